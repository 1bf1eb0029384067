#!/usr/bin/env bash
# The runtime's start failing: the test entry starts the runtime as the real entry does, with the
# n-th request for system memory refused, for n = 1, 2, ... until a start gets through. Every
# failed start must end through the fatal-error path as runtime error 94, and a failed boot as an
# uncaught error, never as an exception that nothing caught (status 3) or a crash.
set -u
tests=$2
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail=0
for n in $(seq 1 50); do
  KIV_TEST_REFUSE_MEMORY=$n "$wine_exec" "$tests" --gtest_filter=-* </dev/null >"$out/stdout" 2>"$out/stderr"
  status=$?
  [ "$status" -eq 0 ] && break
  # A request of the boot (the library's sources, after the start) is refused as the real entry
  # reports it: the uncaught internal error, status -2.
  if [ "$status" -eq 254 ] && grep -q 'Internal Error: not enough memory' "$out/stderr"; then continue; fi
  if [ "$status" -ne 94 ]; then echo "FAIL: request $n refused: status $status, not 94"; fail=1; fi
  if ! grep -q 'Runtime Error 94: out of memory' "$out/stderr"; then
    echo "FAIL: request $n refused: no runtime error 94 message:"; cat "$out/stderr"; fail=1
  fi
done
if [ "$n" -lt 2 ] || [ "$status" -ne 0 ]; then echo "FAIL: starts with requests refused: $n, last status $status"; fail=1; fi
exit "$fail"
