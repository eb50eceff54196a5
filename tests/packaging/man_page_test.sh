#!/usr/bin/env bash
# The man page passes both formatters' checks without a word.
# usage: man_page_test.sh MAN_PAGE
set -uo pipefail
. "$(dirname "$0")/lib.sh"
page=$1

lint=$(mandoc -T lint -W warning "$page" 2>&1)
check "mandoc -T lint -W warning reports nothing: $lint" test -z "$lint"
groff_says=$(groff -man -ww -z "$page" 2>&1)
check "groff -man -ww -z reports nothing: $groff_says" test -z "$groff_says"
for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" FILES EXAMPLES DIAGNOSTICS CAVEATS; do
    check "has a $section section" grep -qx ".Sh $section" "$page"
done
for message in "OpenFileMapping Failed" "MapViewOfFile Failed" "FMOSize too low" "FMOSize too high" \
    "Write to stdout Failed" "FMO truncated during dump"; do
    check "explains \"$message\"" grep -qx ".It Li $message" "$page"
done
check ".Os names the program and its version" grep -qx '.Os shmpeek 0.3' "$page"
check "says there is no --help" grep -q 'There is no' "$page"
finish
