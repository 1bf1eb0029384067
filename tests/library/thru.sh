#!/usr/bin/env bash
# URLs through load, do and the download cache, against the loopback server of the request tests
# (tests/io/http_server.py, stopped by its pid). The script of tests/library/thru/ runs with @BASE@
# replaced by the server's address and @RUN@ by the run, each run in a folder of its own, normally
# and in the collector's stress mode.
set -u
. "$(dirname "$0")/../support/loopback.bash"
status=0
for stress in 0 1; do
  mkdir "$dir/run$stress"
  sed -e "s|@BASE@|http://127.0.0.1:$port|g" -e "s|@RUN@|$stress|g" "$here/thru/cache.kiv" >"$dir/run$stress/cache.kiv"
  if [ $stress = 1 ]; then
    out=$(cd "$dir/run$stress" && KIV_GC_STRESS=1 KIV_GC_STRESS_MOVE=1 "$wine_exec" "$kiv_cli" --test cache.kiv 2>&1)
  else
    out=$(cd "$dir/run$stress" && "$wine_exec" "$kiv_cli" --test cache.kiv 2>&1)
  fi
  code=$?
  if [ $code != 0 ]; then
    echo "FAIL: cache.kiv (stress $stress), status $code"
    echo "$out"
    status=1
  else
    echo "cache.kiv (stress $stress): $(printf '%s\n' "$out" | tr -d '\r' | tail -n1)"
  fi
done
exit $status
