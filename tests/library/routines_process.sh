#!/usr/bin/env bash
# The routine words that end or write to the process, seen from outside: quit-return's status
# (negative ones in their low 8 bits) with what was printed before it still delivered, write-stdout's
# bytes as given; and the executable, copied away from the source tree, runs the library of its
# boot image.
set -u
. "$(dirname "$0")/../support/process.bash"

for status in 0 3 255 -2; do
  printf 'print "before"\nprin "no line end"\nquit-return %s\nprint "after"\n' "$status" >"$out/quit.kiv"
  "$wine_exec" "$cli" "$out/quit.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
  check "quit-return $status: status" $((status & 255)) "$?"
  check "quit-return $status: output" $'before\nno line end' "$(cat "$out/stdout")"
done

printf 'write-stdout "a^(E9)"\nwrite-stdout #{00FF0A}\nwrite-stdout 12\n' >"$out/write.kiv"
"$wine_exec" "$cli" "$out/write.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
check "write-stdout status" 0 "$?"
check "write-stdout bytes" "61c3a900ff0a3132" "$(xxd -p "$out/stdout")"

# Away from library/: the words of every library source are there, and start-up split the
# command line and entered the current directory.
mkdir "$out/away"
cp "$cli" "$out/away/kiv-cli.exe"
cat >"$out/away/boot.kiv" <<'KIV'
print [block? [] routine? :exists? object? system/words system/words = context? 'print]
print [string? system/options/boot block? system/options/args exists? system/options/path]
KIV
(cd "$out/away" && "$wine_exec" ./kiv-cli.exe boot.kiv x "y z" </dev/null >"$out/stdout" 2>"$out/stderr")
check "away: status" 0 "$?"
check "away: output" $'true true true true\ntrue true true' "$(tr -d '\r' <"$out/stdout")"
[ -s "$out/stderr" ] && { echo "FAIL: away: standard error:"; cat "$out/stderr"; fail=1; }
exit "$fail"
