#!/usr/bin/env bash
# Builds the package of a build folder with CPack and checks its contents.
# usage: package_test.sh deb|zip BUILD_DIR
set -uo pipefail
kind=$1 build=$2
. "$(dirname "$0")/lib.sh"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

generator=DEB
[ "$kind" = zip ] && generator=ZIP
(cd "$build" && cpack -G "$generator" -B "$out" >"$out/cpack.log" 2>&1) ||
    { cat "$out/cpack.log" >&2; echo "FAILED: cpack -G $generator" >&2; exit 1; }

if [ "$kind" = deb ]; then
    deb=$(ls "$out"/*.deb)
    check "package name" test "$(dpkg-deb -f "$deb" Package)" = shmpeek
    check "section utils" test "$(dpkg-deb -f "$deb" Section)" = utils
    check "version 0.3" test "$(dpkg-deb -f "$deb" Version)" = 0.3
    check "dependencies computed (libc6)" grep -q 'libc6 (>=' <<<"$(dpkg-deb -f "$deb" Depends)"
    check "a description" grep -q 'shared-memory block' <<<"$(dpkg-deb -f "$deb" Description)"
    contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
    for file in ./usr/bin/shmpeek ./usr/share/man/man1/shmpeek.1.gz ./usr/share/bash-completion/completions/shmpeek \
        ./usr/share/doc/shmpeek/copyright ./usr/share/doc/shmpeek/changelog.gz; do
        check "holds $file" grep -qx "$file" <<<"$contents"
    done
    if command -v lintian >/dev/null; then
        lintian_says=$(lintian --allow-root "$deb" 2>&1)
        check "lintian reports no error or warning: $lintian_says" test -z "$lintian_says"
    else
        check "lintian is installed (scripts/install-deps packaging)" false
    fi
else
    zip=$(ls "$out"/*.zip)
    contents=$(cd "$out" && cmake -E tar tf "$zip")
    check "zip named for win64 ($zip)" test "$(basename "$zip")" = shmpeek-0.3-win64.zip
    for file in shmpeek.exe LICENSE.txt README.txt; do
        check "holds $file" grep -qx "shmpeek-0.3-win64/$file" <<<"$contents"
    done
    check "nothing else: $contents" test "$(grep -vc '/$' <<<"$contents")" -eq 3
    (cd "$out" && cmake -E tar xf "$zip")
    for file in LICENSE.txt README.txt; do
        text=$out/shmpeek-0.3-win64/$file
        check "$file has CR LF line ends" test "$(grep -c $'\r$' "$text")" -eq "$(wc -l <"$text")"
    done
    check "the licence is MIT, with the authors' copyright line" \
        grep -q 'Copyright (c) 2026 The shmpeek authors' "$out/shmpeek-0.3-win64/LICENSE.txt"
    check "README.txt speaks of Windows names" grep -qF 'Local\Name' "$out/shmpeek-0.3-win64/README.txt"
fi
finish
