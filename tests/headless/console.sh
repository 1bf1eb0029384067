#!/usr/bin/env bash
# The console through kiv-cli --console: transcripts of standard input (echoed, since it is no
# terminal) and standard output after the banner, with the exit status; the command line (script,
# switches, arguments, header checks); the shell words in a scratch folder.
set -u
. "$(dirname "$0")/../support/process.bash"
cd "$out"

console() {   # input, then the console's arguments; output in $out/stdout, status in $status
  local input=$1
  shift
  printf '%s' "$input" | "$wine_exec" "$cli" --console "$@" >"$out/stdout" 2>"$out/stderr"
  status=$?
}
banner=$'--== Kiv '
session() {   # what, input, expected transcript after the banner, expected status
  console "$2"
  check "$1: status" "$4" "$status"
  check "$1: banner" "$banner" "$(head -c ${#banner} "$out/stdout")"
  check "$1: transcript" "$3" "$(tail -n +4 "$out/stdout")"
}

session "a sum" $'1 + 2\n' $'>> 1 + 2\n== 3\n>> ' 0
session "the fields" $'print mold words-of system/console\n' \
  $'>> print mold words-of system/console\n[def-prompt def-result prompt result history size catch? delimiters ws gui? read-argument init delimiter-map count delimiter-lex check-delimiters try-do line buffer cue mode do-command eval-command run launch]\n>> ' 0
session "a float" $'0.1 + 0.2\n' $'>> 0.1 + 0.2\n== 0.3\n>> ' 0
session "a string" $'"a"\n' $'>> "a"\n== "a"\n>> ' 0
session "print, no result" $'print "x"\n' $'>> print "x"\nx\n>> ' 0
session "an empty line" $'\n\n' $'>> \n>> \n>> ' 0
session "quit/return" $'quit/return 3\nprint 1\n' $'>> quit/return 3' 3
# Continuation: the cue shows the innermost open delimiter.
session "an open block" $'[\n1 2]\n' $'>> [\n[    1 2]\n== [\n    1 2\n]\n>> ' 0
session "a raw string" $'%{a\nb}%\n' $'>> %{a\n{    b}%\n== "a^/b"\n>> ' 0
session "a raw string after a word" $'x: %{a\nb}%\n' $'>> x: %{a\n{    b}%\n== "a^/b"\n>> ' 0
session "a brace string, a tag" $'{a\n}\n<a\n>\n' $'>> {a\n{    }\n== "a^/"\n>> <a\n<    >\n== <a\n>\n>> ' 0
session "a paren in a path" $'b: [1 2] b/(\n1 + 1)\n' $'>> b: [1 2] b/(\n(    1 + 1)\n== 2\n>> ' 0
session "a stray ]" $']\n' $'>> ]\n*** Syntax Error: (line 1) missing ] at ]\n*** Where: transcode\n*** Near : out: transcode source\n>> ' 0
session "a wrong close" $'[(\n]\n' $'>> [(\n(    ]\n*** Syntax Error: (line 2) missing ) at (\n*** Where: transcode\n*** Near : out: transcode source\n>> ' 0
session "escape" $'[\n1\x1b\n2\n' $'>> [\n[    1\n(escape)\n>> 2\n== 2\n>> ' 0
session "an error, then an empty line" $'1 / 0\n' $'>> 1 / 0\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0 \n\n>> ' 0
session "halts" $'halt\nloop 3 [halt]\n\'halt-request\n' $'>> halt\n(halted)\n>> loop 3 [halt]\n(halted)\n>> \'halt-request\n(halted)\n>> ' 0
x73=$(printf 'x%.0s' $(seq 72))
session "a long result" $'append/dup copy "" "x" 100\n' $'>> append/dup copy "" "x" 100\n== {'"$x73"$'...\n>> ' 0
session "an open map" $'#[\na 1]\n' $'>> #[\n[    a 1]\n== #[\n    a: 1\n]\n>> ' 0
# History: newest first, a repeated line once, a hidden one never.
session "history" $'1 + 2\n1 + 2\nask/hide ""\npw\nsystem/console/history\n' \
  $'>> 1 + 2\n== 3\n>> 1 + 2\n== 3\n>> ask/hide ""\n**\n== "pw"\n>> system/console/history\n== ["system/console/history" {ask/hide ""} "1 + 2"]\n>> ' 0
# Mended: count/reverse stops at the head instead of counting it again; init goes on when the
# title cannot be set (here there is no text console).
session "count" $'system/console/count/reverse "%%%" #"%"\nsystem/console/count/reverse at "a%%" 3 #"%"\n' \
  $'>> system/console/count/reverse "%%%" #"%"\n== 1\n>> system/console/count/reverse at "a%%" 3 #"%"\n== 2\n>> ' 0
session "init" $'system/console/init "t" print "after"\n' $'>> system/console/init "t" print "after"\nSetConsoleTitle failed!\nafter\n>> ' 0
# Prompts and result prefixes.
session "a prompt function" $'system/console/prompt: does ["P> "]\n1\n' $'>> system/console/prompt: does ["P> "]\n== func []["P> "]\nP> 1\n== 1\nP> ' 0
session "a raising prompt" $'system/console/prompt: does [1 / 0]\n1\n' \
  $'>> system/console/prompt: does [1 / 0]\n== func [][1 / 0]\n*** Math Error: attempt to divide by zero\n*** Where: system/console/prompt\n*** Near : 1 / 0\n>> 1\n== 1\n>> ' 0
session "a result prefix" $'system/console/result: "=>"\n3\n' $'>> system/console/result: "=>"\n=> "=>"\n>> 3\n=> 3\n>> ' 0
session "a raising result prefix" $'system/console/result: does [1 / 0]\n3\n' \
  $'>> system/console/result: does [1 / 0]\n*** Math Error: attempt to divide by zero\n*** Where: system/console/result\n*** Near : 1 / 0\n== func [][1 / 0]\n>> 3\n*** Math Error: attempt to divide by zero\n*** Where: system/console/result\n*** Near : 1 / 0\n== 3\n>> ' 0
# Mended: a prompt function runs once per line, however long the result; a number prompt cuts.
session "a prompt function with a long result" $'n: 0 system/console/prompt: does [n: n + 1 "P> "]\nappend/dup copy "" "x" 100\nn\n' \
  $'>> n: 0 system/console/prompt: does [n: n + 1 "P> "]\n== func [][n: n + 1 "P> "]\nP> append/dup copy "" "x" 100\n== {'"$x73"$'...\nP> n\n== 2\nP> ' 0
session "a number prompt" $'system/console/prompt: 5\nappend/dup copy "" "x" 100\n' \
  $'>> system/console/prompt: 5\n== 5\n5append/dup copy "" "x" 100\n== {'"$x73"$'xx...\n5' 0

# The command line: a script runs alone (no banner), or with --catch stays in the console.
printf 'Kiv []\nprint "hi"\n' >s.kiv
console '' s.kiv
check "a script: status" 0 "$status"
check "a script: output" 'hi' "$(cat "$out/stdout")"
console '' --catch s.kiv
check "--catch: output" $'hi\n>> ' "$(cat "$out/stdout")"
printf 'Kiv []\nprint "odd"\n' >./--odd.kiv
console '' -- --odd.kiv
check "a name after --" 'odd' "$(cat "$out/stdout")"
printf 'Kiv []\nprint mold system/options/args print mold system/script/args\n' >args.kiv
console '' --x args.kiv a b
check "the script's arguments" $'["a" "b"]\n"a b"' "$(cat "$out/stdout")"
mkdir -p sub
printf 'Kiv []\nprint last split-path what-dir\n' >sub/s.kiv
console '' sub/s.kiv
check "a script in a folder runs there" 'sub/' "$(cat "$out/stdout")"
console '' missing.kiv
check "a missing script: status" 0 "$status"
check "a missing script: its error" '*** Access Error: cannot open: ' "$(head -c 31 "$out/stdout")"
grep -q '^--== Kiv ' "$out/stdout" || { echo "FAIL: a missing script: no banner after the error"; fail=1; }
header() {   # what, script text, expected output
  printf '%s' "$2" >h.kiv
  console '' h.kiv
  check "$1: status" 0 "$status"
  check "$1" "$3" "$(cat "$out/stdout")"
}
header "no header" $'print 1\n' '*** Error: Kiv header not found!'
header "a header after comments" $'; note\nKiv [] print 1\n' '1'
header "a lower-case header" $'kiv [] 1\n' '*** Error: Kiv header not found!'
header "Kiv/System" $'Kiv/System [] 1\n' '*** Error: contains Kiv/System code which requires compilation!'
header "no block after Kiv" $'Kiv 1\n' '*** Error: Kiv header not found!'
header "an error in the script" $'Kiv [] 1 / 0\n' $'*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0'
header "a halt in the script" $'Kiv [] print 1 halt print 2\n' $'1\n(halted)'

# Shell words, in a scratch folder (entries in any order).
mkdir -p shell/sub && cd shell && touch a.txt b abcdefghijklmnopqrstuvwxyz.kiv
console $'ls 123\n'
grep -q '^\*\*\* Script Error: list-dir does not allow integer! for its dir argument$' "$out/stdout" ||
  { echo "FAIL: ls 123:"; cat "$out/stdout"; fail=1; }
console $'ls\n'
rows=$(grep -c $'^\t' "$out/stdout")
check "ls: rows of 3" 2 "$rows"
for entry in a.txt b sub/; do
  grep -q $'\t'"$(printf '%-18s' "$entry") " "$out/stdout" || { echo "FAIL: ls: no field for $entry"; fail=1; }
done
grep -q $'\tabcdefghijklmn...  ' "$out/stdout" || { echo "FAIL: ls: a long name not cut"; fail=1; }
console $'ll\n'
check "ll: one a row" 4 "$(grep -c $'^\t' "$out/stdout")"
grep -q $'\t'"$(printf '%-66s' abcdefghijklmnopqrstuvwxyz.kiv) \$" "$out/stdout" || { echo "FAIL: ll: no field of 66"; fail=1; }
console $'list-dir/col %. 0\n'
grep -q '^\*\*\* Script Error: invalid argument: 0$' "$out/stdout" || { echo "FAIL: list-dir/col 0:"; cat "$out/stdout"; fail=1; }
console $'list-dir/col %. 40\n'
grep -q $'\ta...  ' "$out/stdout" || { echo "FAIL: list-dir/col 40: a cut name keeps a character:"; cat "$out/stdout"; fail=1; }
console $'cd sub\npwd\n'
grep -q '^%/.*/shell/sub/$' "$out/stdout" || { echo "FAIL: cd, pwd:"; cat "$out/stdout"; fail=1; }
cd ..
session "expand" $'expand [#if true [a b]]\n' $'>> expand [#if true [a b]]\n[a b]\n== [a b]\n>> ' 0
# The debugger's commands are read through ask too, but only the console's own lines stay in the history.
session "debugger lines leave the history alone" $'debug [a: 1]\nn\n:a\nc\nprint mold system/console/history\n' \
  $'>> debug [a: 1]\n-----> EVAL a:\nInput: a: 1\n\nStack: a:\n\ndebug> n\n-----> EVAL 1\nInput: 1\n\nStack: a:\n\ndebug> :a\n== unset\ndebug> c\n>> print mold system/console/history\n["print mold system/console/history" "debug [a: 1]"]\n>> ' 0
exit "$fail"
