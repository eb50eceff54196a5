#!/usr/bin/env bash
# Installs the build into a DESTDIR and checks what lands where.
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
. "$(dirname "$0")/lib.sh"
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null || { echo "FAILED: cmake --install" >&2; exit 1; }

files=$(cd "$dest" && find . -type f -o -type l | sed 's|^\./||' | sort)
expected='usr/bin/shmpeek
usr/share/bash-completion/completions/shmpeek
usr/share/doc/shmpeek/changelog.gz
usr/share/doc/shmpeek/copyright
usr/share/man/man1/shmpeek.1.gz'
check "installs exactly the program, the man page, the completion, the licence and the changelog (got: $files)" \
    test "$files" = "$expected"
check "the program is executable" test -x "$dest/usr/bin/shmpeek"
check "the man page is the one in doc/" cmp -s <(gzip -dc "$dest/usr/share/man/man1/shmpeek.1.gz") "$source/doc/shmpeek.1"
check "the changelog is the one in doc/" cmp -s <(gzip -dc "$dest/usr/share/doc/shmpeek/changelog.gz") \
    "$source/doc/changelog"
check "the licence is MIT, with the authors' copyright line" \
    grep -q 'Copyright (c) 2026 The shmpeek authors' "$source/LICENSE"
check "the copyright file carries the licence's text" \
    grep -qF 'Permission is hereby granted, free of charge' "$dest/usr/share/doc/shmpeek/copyright"
check "the completion is the one in completion/" cmp -s "$dest/usr/share/bash-completion/completions/shmpeek" \
    "$source/completion/shmpeek.bash"

"$dest/usr/bin/shmpeek" >"$dest/out" 2>"$dest/err"
status=$?
check "the installed program prints its usage with status 1 (got $status)" test "$status" -eq 1
check "the usage starts with the banner" test "$(head -n 1 "$dest/err")" = "shmpeek v0.3"
finish
