#!/usr/bin/env bash
# quit ends the process with its status, and nothing after it runs. With a console present it saves
# the console's settings first; a save that fails, or throws, must not keep the process alive.
set -u
. "$(dirname "$0")/../support/process.bash"

console='unless attempt [system/console: true] [system: make object! [console: true]]'
# what, script, expected status, expected output
cases=(
  "quit"                        'prin "a" quit prin "b"'                                        0 "a"
  "quit/return"                 'quit/return 3 prin "b"'                                        3 ""
  "quit inside a function"      'f: does [quit/return 4] f prin "b"'                            4 ""
  "quit inside try/all"         'try/all [quit/return 5] prin "b"'                              5 ""
  "console settings saved"      "$console _save-cfg: does [prin {saved}] quit/return 3"        3 "saved"
  "a failing save"              "$console _save-cfg: does [1 / 0] quit/return 3"               3 ""
  "a save that throws"          "$console _save-cfg: does [throw 1] quit/return 6"             6 ""
  "no console, no save"         "_save-cfg: does [prin {saved}] quit/return 3"                  3 ""
)
for ((i = 0; i < ${#cases[@]}; i += 4)); do
  what=${cases[i]}
  printf '%s\n' "${cases[i + 1]}" >"$out/case.kiv"
  "$wine_exec" "$cli" "$out/case.kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
  status=$?
  printed=$(cat "$out/stdout")
  if [ "$status" != "${cases[i + 2]}" ] || [ "$printed" != "${cases[i + 3]}" ]; then
    printf 'FAIL: %s\n  expected: status %s, output %q\n  actual:   status %s, output %q\n' \
      "$what" "${cases[i + 2]}" "${cases[i + 3]}" "$status" "$printed"
    cat "$out/stderr"
    fail=1
  fi
done
exit "$fail"
