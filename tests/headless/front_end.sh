#!/usr/bin/env bash
# The headless front end: a script file (its Kiv header skipped) prints what it prints and ends
# with 0, or with the formed error on standard error and status 254 when an error is uncaught;
# --time adds the seconds spent evaluating; lines on standard input are answered as the console
# answers them ("== " and the molded value, nothing for unset, the formed error).
set -u
cli=$(dirname "$1")/kiv-cli.exe
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail=0
check() {   # what, expected, actual
  if [ "$2" != "$3" ]; then printf 'FAIL: %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"; fail=1; fi
}

printf 'Kiv [title: "t"]\nprint 1 + 2\nprin "x"\n' >"$out/ok.kiv"
"$wine_exec" "$cli" "$out/ok.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
check "script status" 0 "$?"
check "script output" $'3\nx' "$(cat "$out/stdout")"

printf 'print "before"\nx: 1 / 0\nprint "after"\n' >"$out/bad.kiv"
"$wine_exec" "$cli" "$out/bad.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
check "uncaught error status" 254 "$?"
check "output before the error" "before" "$(cat "$out/stdout")"
grep -q "Math Error: attempt to divide by zero" "$out/stderr" || { echo "FAIL: no formed error on stderr:"; cat "$out/stderr"; fail=1; }

"$wine_exec" "$cli" --time "$out/ok.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
check "--time status" 0 "$?"
[[ "$(tail -1 "$out/stderr")" =~ ^[0-9]+\.[0-9]+$ ]] || { echo "FAIL: --time printed no seconds:"; cat "$out/stderr"; fail=1; }

printf '1 + 2\nx: ()\n[a  b]\nprint "p"\n' | "$wine_exec" "$cli" >"$out/stdout" 2>"$out/stderr"
check "line mode status" 0 "$?"
expected=$'== 3\n*** Script Error: x: needs a value\n*** Where: x\n*** Near : x: ()\n== [a b]\np'
actual=$(cat "$out/stdout")
check "line mode answers" "$expected" "$actual"
exit "$fail"
