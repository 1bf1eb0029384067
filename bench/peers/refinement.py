# 1 million calls through a refinement
import sys, time

def bump(x, step, once=False):
    return x + 1 if once else x + step

t = time.perf_counter()
n = 0
for _ in range(1000000):
    n = bump(n, 2, once=True)
print(n)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
