# 1 million loop iterations that break or continue
import sys, time
t = time.perf_counter()
hits = 0
for i in range(1, 1000001):
    for _ in range(1):
        if i % 2 == 1:
            continue
        hits = hits + 1
    for _ in range(3):
        break
print(hits)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
