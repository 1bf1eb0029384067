# mold 1 million floats (repr is Python's shortest round-trip text)
import sys, time
t = time.perf_counter()
n = 0
for i in range(1, 333335):
    n += len(repr(i / 7.0)) + len(repr(i * 0.25)) + len(repr(i * 1.1e-300))
print(n)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
