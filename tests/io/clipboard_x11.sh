#!/usr/bin/env bash
# The clipboard against another X11 program: text that xclip places reads back in Kiv, and the
# text Kiv writes is what xclip then reads.
set -u
kiv_cli=$(dirname "$2")/kiv-cli.exe
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
command -v xclip >/dev/null || { echo "FAIL: xclip is missing (tools/setup installs it)"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/x11.kiv" <<'KIV'
print read-clipboard
print write-clipboard "from kiv h^(E9)llo"
KIV

# xclip serves the selection until another program takes it (Kiv's write does).
printf 'from x11 h\xc3\xa9llo' | xclip -selection clipboard -i >/dev/null 2>&1
# On a busy machine xclip may not own the selection yet when it returns: wait until it serves.
for _ in $(seq 100); do
  [ "$(timeout 5 xclip -selection clipboard -o 2>/dev/null)" = $'from x11 h\xc3\xa9llo' ] && break
  sleep 0.1
done
out=$("$wine_exec" "$kiv_cli" "$dir/x11.kiv" 2>&1 | tr -d '\r')
want=$'from x11 h\xc3\xa9llo\ntrue'
[ "$out" = "$want" ] || { echo "FAIL: Kiv printed [$out], expected [$want]"; exit 1; }
back=$(timeout 20 xclip -selection clipboard -o 2>&1)
[ "$back" = $'from kiv h\xc3\xa9llo' ] || { echo "FAIL: xclip read [$back]"; exit 1; }
echo PASSED
