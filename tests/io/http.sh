#!/usr/bin/env bash
# HTTP requests against a loopback server (tests/io/http_server.py, on a free port of 127.0.0.1,
# stopped by its pid): each Kiv script of tests/io/http/ runs with @BASE@ replaced by the server's
# address and @CLOSED@ by an address where nothing listens, normally and in the collector's stress
# mode.
set -u
. "$(dirname "$0")/../support/loopback.bash"
# A port that was free a moment ago and that nothing listens on now.
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
status=0
summary=""
for script in "$here"/http/*.kiv; do
  name=$(basename "$script")
  sed -e "s|@BASE@|http://127.0.0.1:$port|g" -e "s|@CLOSED@|http://127.0.0.1:$closed|g" "$script" >"$dir/$name"
  for stress in 0 1; do
    if [ $stress = 1 ]; then
      out=$(KIV_GC_STRESS=1 KIV_GC_STRESS_MOVE=1 "$wine_exec" "$kiv_cli" --test "$dir/$name" 2>&1)
    else
      out=$("$wine_exec" "$kiv_cli" --test "$dir/$name" 2>&1)
    fi
    code=$?
    summary="$summary
$name (stress $stress): $(printf '%s\n' "$out" | tr -d '\r' | tail -n1)"
    if [ $code != 0 ]; then
      echo "FAIL: $name (stress $stress), status $code"
      echo "$out"
      status=1
    fi
  done
done
[ $status = 0 ] && echo "PASSED${summary:-}"
exit $status
