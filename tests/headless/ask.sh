#!/usr/bin/env bash
# ask and input over standard input: the prompt written, one line read and echoed (input here is
# a pipe, no terminal), /hide echoing a "*" per character, the history kept newest first, the end
# of input ending the process with status 0; halt throws to the console's name.
set -u
. "$(dirname "$0")/../support/process.bash"

run() {   # what, script, input, expected output, expected status
  printf '%s' "$2" >"$out/s.kiv"
  printf '%s' "$3" | "$wine_exec" "$cli" "$out/s.kiv" >"$out/stdout" 2>"$out/stderr"
  check "$1: status" "$5" "$?"
  check "$1: output" "$4" "$(cat "$out/stdout")"
}

run "ask" 'a: ask "name? " print mold a' $'bob\n' $'name? bob\n"bob"' 0
run "input, a carriage return dropped" 'x: input print [length? x x]' $'h\xc3\xa9llo\r\n' $'h\xc3\xa9llo\n5 h\xc3\xa9llo' 0
run "a last line without its line end" 'print mold ask ""' 'end' $'end\n"end"' 0
run "hidden" 'p: ask/hide "pw: " print p' $'s\xc3\xa9cret\n' $'pw: ******\ns\xc3\xa9cret' 0
run "end of input" 'print "a" ask "q " print "never"' '' $'a\nq ' 0
run "escape" 'x: ask "" print [length? x  27 = to integer! last x]' $'ab\x1b\n' $'ab\n3 true' 0
# Not empty, not the newest entry (case counts), not cancelled, not hidden: to the head.
run "history" 'h: copy [] loop 5 [ask/history "" h] ask/hide/history "" h probe h' \
  $'a\na\n\nA\nz\x1b\npw\n' $'a\na\n\nA\nz\n**\n["A" "a"]' 0
run "no history without a console" 'ask "" print mold system/console' $'a\n' $'a\nnone' 0
run "halt" "print catch/name [halt 1] 'console" '' 'halt-request' 0

printf 'x: ask "q "\nhello\nx\n' | "$wine_exec" "$cli" >"$out/stdout" 2>"$out/stderr"
check "line mode: status" 0 "$?"
check "line mode: ask takes the next line" $'q hello\n== "hello"\n== "hello"' "$(cat "$out/stdout")"

# A test script that asks has no input: the runner fails instead of ending as if all passed.
printf 'input ;== ""\n' >"$out/case.kiv"
"$wine_exec" "$(dirname "$1")/kiv-cli-checked.exe" --test "$out/case.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
check "runner: status" 1 "$?"
exit "$fail"
