#!/usr/bin/env bash
# The headless front end: a script file (its Kiv header skipped) prints what it prints and ends
# with 0, or with the formed error on standard error and status 254 when an error is uncaught;
# --time adds the seconds spent evaluating; lines on standard input are answered as the console
# answers them ("== " and the molded value, nothing for unset, the formed error).
set -u
. "$(dirname "$0")/../support/process.bash"

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
# The test runner (--test, with the checked build beside): a marker written wrong, a marker with no
# code and a file without cases fail instead of passing unchecked.
checked=$(dirname "$1")/kiv-cli-checked.exe
runner_fails() {   # what, file text
  printf '%s' "$2" >"$out/case.kiv"
  "$wine_exec" "$checked" --test "$out/case.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
  check "$1: status" 1 "$?"
  grep -q ' 1 failed$' "$out/stdout" || { echo "FAIL: $1: not counted as a failure:"; cat "$out/stdout"; fail=1; }
}
runner_fails "one = for two" $'1 + 2 ;= 3\n1 ;== 1\n'
runner_fails "a lone ! marker" $'x: 1 ;! script/no-value\n1 ;== 1\n'
runner_fails "a marker commented out" $';== 3\n1 ;== 1\n'
runner_fails "a marker alone" $'   ;>> 3\n1 ;== 1\n'
runner_fails "no cases" $'; nothing here\nx: 1\n'
printf '%s' $'s: "a ;= b" ;== "a ;= b"\n' >"$out/case.kiv"
"$wine_exec" "$checked" --test "$out/case.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
check "a marker's characters inside a string" "1 passed, 0 failed" "$(tr -d '\r' <"$out/stdout")"
exit "$fail"
