#!/usr/bin/env bash
# The process entry, from outside: kiv.exe starts the runtime and ends through the normal end,
# status 0 with nothing printed, whether or not it has standard streams.
set -u
kiv=$1
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail=0

"$wine_exec" "$kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
status=$?
if [ "$status" -ne 0 ]; then echo "FAIL: kiv.exe exited with $status, not 0"; fail=1; fi
if [ -s "$out/stdout" ]; then echo "FAIL: kiv.exe printed on standard output:"; cat "$out/stdout"; fail=1; fi
if [ -s "$out/stderr" ]; then echo "FAIL: kiv.exe printed on standard error:"; cat "$out/stderr"; fail=1; fi

"$wine_exec" "$kiv" <&- >&- 2>&-
status=$?
if [ "$status" -ne 0 ]; then echo "FAIL: kiv.exe without standard streams exited with $status, not 0"; fail=1; fi

exit "$fail"
