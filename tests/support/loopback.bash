# Sourced by the shell tests that talk to the loopback HTTP server (tests/io/http_server.py, on a
# free port of 127.0.0.1, stopped by its pid at exit): $2 is a program of the build folder. Gives
# here (the test's folder), kiv_cli, wine_exec, a scratch folder $dir and the server's $port.
here=$(cd "$(dirname "$0")" && pwd)
kiv_cli=$(dirname "$2")/kiv-cli-checked.exe
wine_exec=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/wine-exec
dir=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
python3 "$(dirname "${BASH_SOURCE[0]}")/../io/http_server.py" "$dir/port" &
server=$!
for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.1; done
[ -s "$dir/port" ] || { echo "FAIL: the loopback server did not start"; exit 1; }
port=$(cat "$dir/port")
