#!/usr/bin/env bash
# Kiv's JSON and CSV writers as Python reads them: data Python made goes through Kiv's loaders and
# back out through to-json (plain, /ascii, /pretty) and to-csv; Python's json and csv modules must
# read back the same data, types included.
set -u
cli=$(cd "$(dirname "$1")" && pwd)/kiv-cli.exe
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$out" || exit 1

python3 - <<'PY'
import csv, json, random, struct
rng = random.Random(34)
chars = 'aZ09 ,;"\'\\/\t\r\n\b\f\x01\x1f\x7féΩ中😀𝄞'
def text():
    return ''.join(rng.choice(chars) for _ in range(rng.randrange(0, 10)))
def double():
    while True:
        x = struct.unpack('<d', struct.pack('<Q', rng.getrandbits(64)))[0]
        if x == x and abs(x) != float('inf'):
            return x
def value(depth):
    kind = rng.randrange(7 if depth < 5 else 5)
    if kind == 0: return rng.choice([None, True, False])
    if kind == 1: return rng.randrange(-2 ** 31, 2 ** 31)
    if kind == 2: return rng.choice([double(), 0.1 + 0.2, 1e-20, -0.0, 5e-324, 1e300])
    if kind in (3, 4): return text()
    if kind == 5: return [value(depth + 1) for _ in range(rng.randrange(0, 5))]
    return {text() + str(i): value(depth + 1) for i in range(rng.randrange(0, 5))}
data = [value(0) for _ in range(200)]
with open('data.json', 'w', encoding='utf-8') as f:
    json.dump(data, f, ensure_ascii=False)
with open('data.csv', 'w', encoding='utf-8', newline='') as f:
    csv.writer(f).writerows([[text() for _ in range(4)] for _ in range(200)])
PY

# Binary reads and writes: text ones would turn CR LF into LF and back, inside quoted fields too.
cat >convert.kiv <<'KIV'
data: load-json to string! read/binary %data.json
write/binary %plain.json to binary! to-json data
write/binary %ascii.json to binary! to-json/ascii data
write/binary %pretty.json to binary! to-json/pretty data "  "
write/binary %out.csv to binary! to-csv load-csv to string! read/binary %data.csv
KIV
"$wine_exec" "$cli" convert.kiv </dev/null >stdout 2>stderr || { echo "FAIL: kiv-cli status $?"; cat stdout stderr; exit 1; }

python3 - <<'PY'
import csv, json, sys
def same(a, b):
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, float):
        return repr(a) == repr(b)
    return a == b
fail = 0
data = json.load(open('data.json', encoding='utf-8'))
for name in ('plain.json', 'ascii.json', 'pretty.json'):
    raw = open(name, 'rb').read()
    try:
        back = json.loads(raw.decode('utf-8'))
    except ValueError as e:
        print('FAIL: %s does not read: %s' % (name, e)); fail = 1; continue
    if not same(data, back):
        print('FAIL: %s reads back other data' % name); fail = 1
if any(b > 127 for b in open('ascii.json', 'rb').read()):
    print('FAIL: ascii.json holds bytes above 127'); fail = 1
if b'\n  ' not in open('pretty.json', 'rb').read():
    print('FAIL: pretty.json is not indented'); fail = 1
rows = list(csv.reader(open('data.csv', encoding='utf-8', newline='')))
back = list(csv.reader(open('out.csv', encoding='utf-8', newline='')))
if rows != back:
    print('FAIL: out.csv reads back other rows'); fail = 1
sys.exit(fail)
PY
