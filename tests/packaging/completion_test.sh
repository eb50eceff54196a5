#!/usr/bin/env bash
# Drives the completion function as bash would, against real blocks, then
# completes hostile names in a real interactive bash on a pseudo-terminal.
# usage: completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
completion=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
. "$completion"
declare -F _shmpeek >/dev/null || { echo "FAILED: $1 defines no _shmpeek" >&2; exit 1; }

stem=shmpeek-${SHMPEEK_TEST_RUN:+$SHMPEEK_TEST_RUN-}complete-$$
shm=/dev/shm/$stem
work=$(mktemp -d)
dotted=/dev/shm/.$stem-dotted
trap 'rm -rf "$shm-block" "$shm-empty" "$shm-dir" "$shm-link" "$shm-x;touch PWNED" "$shm-with blanks" \
    "$shm-in \"cwd\"" "$dotted" "$work"' EXIT
# make_block PATH: a block of one byte there, or the test ends.
make_block() { printf '\005\000\000\000A' >"$1" || { echo "FAILED: set-up: cannot make $1" >&2; exit 1; }; }
make_block "$shm-block"
make_block "$shm-x;touch PWNED"
make_block "$shm-with blanks"
# A block called as a directory in the current directory is.
make_block "$shm-in \"cwd\""
set_up mkdir "$work/$stem-in \"cwd\""
make_block "$dotted"
set_up touch "$shm-empty"
set_up mkdir "$shm-dir"
set_up ln -s "$shm-block" "$shm-link"

# Sets the words as typed so far (the last is the one being completed) and
# prints what the function offers, one a line, sorted.
offers() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _shmpeek "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

check "registered for shmpeek, inserting names quoted" \
    test "$(complete -p shmpeek)" = "complete -o filenames -F _shmpeek shmpeek"
check "first word: the block by its prefix" test "$(offers shmpeek "$stem-b")" = "$stem-block"
check "first word: -b offered" grep -qx -- -b <(offers shmpeek "")
check "first word: an existing block offered among all" grep -qx -- "$stem-block" <(offers shmpeek "")
# Another program's block called -b is a name like any other.
foreign_b=0
[[ -f /dev/shm/-b && -s /dev/shm/-b && -r /dev/shm/-b && ! -L /dev/shm/-b ]] && foreign_b=1
check "first word: -b on its own prefix" test "$(offers shmpeek - | grep -cx -- -b)" -eq $((1 + foreign_b))
check "after -b: the block" test "$(offers shmpeek -b "$stem-b")" = "$stem-block"
check "after -b: -b only as a block of that name" test "$(offers shmpeek -b - | grep -cx -- -b)" -eq "$foreign_b"
check "a block whose name begins with a dot" test "$(offers shmpeek ".$stem")" = ".$stem-dotted"
check "no empty object, directory or link" test -z "$(offers shmpeek "$stem-" | grep -E -- '-(empty|dir|link)$')"
check "a missing name: nothing" test -z "$(offers shmpeek "$stem-missing")"
check "after a name: nothing, later words are ignored" test -z "$(offers shmpeek "$stem-block" "$stem")"
check "after -B: nothing, -B is a name" test -z "$(offers shmpeek -B "$stem")"
check "third word after -b: nothing" test -z "$(offers shmpeek -b "$stem-block" "$stem")"

# A user types the start of each name, presses Tab, then Enter; shmpeek is
# a function that shows each argument it gets. Every name must arrive as one
# argument, and nothing in it may run.
tab=$'\t'
shown=$(cd "$work" && python3 "$here/interactive_bash.py" \
    ". '$completion'; shmpeek() { printf '<%s>\n' \"\$@\"; }" \
    "shmpeek $stem-x$tab" \
    "shmpeek -b $stem-w$tab" \
    "shmpeek '$stem-w$tab" \
    "shmpeek $stem-with\\ $tab" \
    "shmpeek $stem-in$tab" \
    "shmpeek '$stem-in$tab" \
    "shmpeek \"$stem-in$tab" \
    "shmpeek .$stem-d$tab")
check "interactive bash ran every line: $shown" test $? -eq 0
check "a name with a ; arrives as one argument" grep -qxF "<$stem-x;touch PWNED>" <<<"$shown"
check "nothing in a name ran" test ! -e "$work/PWNED"
check "a name with a blank arrives as one argument after -b" \
    test "$(grep -A2 -F -- "shmpeek -b $stem" <<<"$shown" | grep '^<' | head -2)" = "<-b>
<$stem-with blanks>"
check "a name with a blank completes inside an open quote" \
    test "$(grep -cxF "<$stem-with blanks>" <<<"$shown")" -eq 3
check "a block called as a directory here comes without a '/'" \
    test "$(grep -cxF "<$stem-in \"cwd\">" <<<"$shown")" -eq 3
check "a block whose name begins with a dot completes" grep -qxF "<.$stem-dotted>" <<<"$shown"
finish
