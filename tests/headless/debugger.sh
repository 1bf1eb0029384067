#!/usr/bin/env bash
# The debugger driven through standard input: each case a script, the lines typed at its
# "debug> " prompts, and the whole output (input here is a pipe, so each line is echoed after its
# prompt). With no console the debugger keeps no history; the last case gives it one.
set -u
. "$(dirname "$0")/../support/process.bash"

run() {   # what, script, input, expected output
  printf '%s' "$2" >"$out/s.kiv"
  printf '%s' "$3" | "$wine_exec" "$cli" "$out/s.kiv" >"$out/stdout" 2>"$out/stderr"
  check "$1: status" 0 "$?"
  check "$1: output" "$4" "$(cat "$out/stdout")"
}

run $'one step, then continue' \
  $'debug [a: 1 b: 2]\nprint [a b]\n' \
  $'c\n' \
  $'-----> EVAL a:\nInput: a: 1 b: 2\n\nStack: a:\n\ndebug> c\n1 2'
run $'an empty line steps once' \
  $'debug [a: 1 b: 2]\nprint [a b]\n' \
  $'\nc\n' \
  $'-----> EVAL a:\nInput: a: 1 b: 2\n\nStack: a:\n\ndebug> \n-----> EVAL 1\nInput: 1 b: 2\n\nStack: a:\n\ndebug> c\n1 2'
run $'continue stops once more at an error' \
  $'debug [a: 1 try [1 / 0] b: 2]\nprint b\n' \
  $'c\n\n' \
  $'-----> EVAL a:\nInput: a: 1 try [1 / 0] b: 2\n\nStack: a:\n\ndebug> c\n-----> ERROR make error! [code: 400 type: \'math id: \'zero-divide arg1: \n\nStack: try\nStack: [1 / 0]\nStack: /\nStack: 0\n\ndebug> \n2'
run $'later: nothing before @stop' \
  $'debug/later [a: 1 @stop b: 2]\n' \
  $'c\n' \
  $'-----> EVAL @stop\nInput: @stop b: 2\n\n-empty stack-\n\ndebug> c'
run $'commands at a stop' \
  $'debug [a: 5 b: 2]\n' \
  $'-s\n\nw a\n\n\n:a\n?\nfoo\n+s\n\nc\n' \
  $'-----> EVAL a:\nInput: a: 5 b: 2\n\nStack: a:\n\ndebug> -s\ndebug> \n-----> EVAL 5\nInput: 5 b: 2\ndebug> w a\ndebug> \n-----> PUSH 5\nInput: b: 2\nWatch: a: unset\ndebug> \n-----> SET a: 5\nInput: b: 2\nWatch: a: 5\ndebug> :a\n== 5\ndebug> ?\n\thelp or ?: print a list of debugger\'s commands.\n\tnext or n or just ENTER: evaluate next value.\n\tcontinue or c: exit debugging console but continue evaluation.\n\tquit or q: exit debugger and stop evaluation.\n\tstack or s: display the current calls and expression stack.\n\tparents or p: display the parents call stack.\n\t:word: outputs the value of word. If it is a function!, outputs the local context.\n\t:a/b/c: outputs the value of a/b/c path.\n\twatch <word1> <word2>...: watch one or more words. w can be used as shortcut for watch.\n\t-watch <word1> <word2>...: stop watching one or more words. -w can be used as shortcut for -watch.\n\t+stack  or +s: outputs expression stack on each new event.\n\t-stack  or -s: do not output expression stack on each new event.\n\t+locals or +l: output local context for each entry in the callstack.\n\t-locals or -l: do not output local context for each entry in the callstack.\n\t+indent or +i: indent the output of the expression stack.\n\t-indent or -i: do not indent the output of the expression stack.\ndebug> foo\nUnknown command!\ndebug> +s\ndebug> \n-----> EVAL b:\nInput: b: 2\nWatch: a: 5\n\nStack: b:\n\ndebug> c'
run $'quit halts, the options restored' \
  $'print catch/name [debug [u: 1 v: 2]] \'console\nprint [value? \'v system/tools/options/debug/show-stack?]\n' \
  $'-s\nq\n' \
  $'-----> EVAL u:\nInput: u: 1 v: 2\n\nStack: u:\n\ndebug> -s\ndebug> q\nhalt-request\nfalse true'
run $'the history loses the commands' \
  $'system/console: make object! [history: copy ["old"] size: 60x20]\ndebug [a: 1]\nprint mold system/console/history\n' \
  $'w a\n:a\n\nc\n' \
  $'-----> EVAL a:\nInput: a: 1\n\nStack: a:\n\ndebug> w a\ndebug> :a\n== unset\ndebug> \n-----> EVAL 1\nInput: 1\nWatch: a: unset\n\nStack: a:\n\ndebug> c\n["old"]'
exit "$fail"
