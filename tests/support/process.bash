# Sourced by the shell tests that run kiv-cli.exe as a process: $1 is a program of the build folder.
# Gives cli, wine_exec, a scratch folder $out removed at exit, and check (what, expected, actual),
# which notes a failure in $fail.
cli=$(dirname "$1")/kiv-cli.exe
wine_exec=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/wine-exec
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail=0
check() {   # what, expected, actual
  if [ "$2" != "$3" ]; then printf 'FAIL: %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"; fail=1; fi
}
