#!/usr/bin/env bash
# The boot image carried by the executable: a copy of the executable whose image is damaged must
# end with a fatal runtime error (non-zero status) and its reason, never boot or exit with 0.
# Cases: the magic broken; the body's first varint made six bytes long; a record's lead byte made
# invalid.
set -u
kiv=$1
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
out=$(mktemp -d)
trap "rm -rf $out" EXIT
fail=0
"$wine_exec" "$kiv" </dev/null >"$out/stdout" 2>"$out/stderr"
status=$?
if [ "$status" -ne 0 ]; then echo "FAIL: the intact executable ends with $status"; cat "$out/stdout" "$out/stderr"; fail=1; fi
for damage in magic varint lead; do
  python3 - "$kiv" "$out/kiv.exe" "$damage" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.find(b'KIVBIN\x02\x05')   # the image: version 2, compact records with symbols
assert at > 0 and data.find(b'KIVBIN\x02\x05', at + 1) < 0, 'one image in the executable'
damage = sys.argv[3]
if damage == 'magic':
    data[at + 3] ^= 0x20
elif damage == 'varint':
    data[at + 8:at + 14] = b'\xff' * 6
else:
    # The payload's first record: past the preamble, the symbol offsets and the names.
    p = at + 8
    def varint():
        global p
        v = s = 0
        while True:
            b = data[p]; p += 1
            v |= (b & 0x7f) << s; s += 7
            if not b & 0x80: return v
    varint(); varint(); count = varint(); names = varint()
    p += 4 * count + names
    data[p] = 0xC5
open(sys.argv[2], 'wb').write(data)
PY
  "$wine_exec" "$out/kiv.exe" </dev/null >"$out/stdout" 2>"$out/stderr"
  status=$?
  if [ "$status" -eq 0 ]; then echo "FAIL: $damage: a damaged image ends with status 0"; fail=1; fi
  if ! grep -q 'Error: .*Kivbin' "$out/stdout" "$out/stderr"; then
    echo "FAIL: $damage: no reason given:"; cat "$out/stdout" "$out/stderr"; fail=1
  fi
done
exit "$fail"
