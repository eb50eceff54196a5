#!/usr/bin/env bash
# Drives the completion function as bash would, against real blocks.
# usage: completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
. "$(dirname "$0")/lib.sh"
. "$1"
declare -F _shmpeek >/dev/null || { echo "FAILED: $1 defines no _shmpeek" >&2; exit 1; }

stem=shmpeek-complete-$$
printf '\005\000\000\000A' >"/dev/shm/$stem-block"
mkdir "/dev/shm/$stem-dir"
ln -s "/dev/shm/$stem-block" "/dev/shm/$stem-link"
trap 'rm -rf "/dev/shm/$stem-block" "/dev/shm/$stem-dir" "/dev/shm/$stem-link"' EXIT

# Sets the words as typed so far (the last is the one being completed) and
# prints what the function offers, one a line, sorted.
offers() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _shmpeek
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

check "registered for shmpeek" test "$(complete -p shmpeek)" = "complete -F _shmpeek shmpeek"
check "first word: the block by its prefix" test "$(offers shmpeek "$stem")" = "$stem-block"
check "first word: -b offered" grep -qx -- -b <(offers shmpeek "")
check "first word: an existing block offered among all" grep -qx -- "$stem-block" <(offers shmpeek "")
check "first word: -b on its own prefix" test "$(offers shmpeek -)" = "-b"
check "after -b: the block" test "$(offers shmpeek -b "$stem")" = "$stem-block"
check "after -b: no second -b" test -z "$(offers shmpeek -b -)"
check "a missing name: nothing" test -z "$(offers shmpeek "$stem-missing")"
check "after a name: nothing, later words are ignored" test -z "$(offers shmpeek "$stem-block" "$stem")"
check "after -B: nothing, -B is a name" test -z "$(offers shmpeek -B "$stem")"
check "third word after -b: nothing" test -z "$(offers shmpeek -b "$stem-block" "$stem")"
finish
