#!/usr/bin/env bash
# Kiv's compressed streams, read back by python3's zlib and gzip: the tests write data sets and
# their zlib, raw and gzip forms into a folder, and Python must give back each data set exactly.
set -u
kiv_tests=$2
wine_exec=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-exec
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

KIV_DEFLATE_EXPORT="Z:$dir" "$wine_exec" "$kiv_tests" --gtest_filter=Compress.WritesStreamsForPythonToRead \
  >"$dir/log" 2>&1 || { echo "FAIL: the export run failed:"; cat "$dir/log"; exit 1; }

python3 - "$dir" <<'PY'
import glob, gzip, os, sys, zlib
folder = sys.argv[1]
names = sorted(os.path.basename(p)[:-5] for p in glob.glob(os.path.join(folder, '*.data')))
if len(names) < 9:
    sys.exit(f'FAIL: only {len(names)} data sets written')
failed = 0
for name in names:
    base = os.path.join(folder, name)
    data = open(base + '.data', 'rb').read()
    readers = {'zlib': lambda b: zlib.decompress(b), 'deflate': lambda b: zlib.decompress(b, -15),
               'gzip': lambda b: gzip.decompress(b)}
    for method, read in readers.items():
        stream = open(f'{base}.{method}', 'rb').read()
        try:
            back = read(stream)
        except Exception as e:
            back = e
        if back != data:
            print(f'FAIL: {name}.{method}: python3 gives {back!r:.80}')
            failed = 1
sys.exit(failed)
PY
