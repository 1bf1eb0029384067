# building a 1-million-item block
import sys, time
t = time.perf_counter()
b = []
for i in range(1, 1000001):
    b.append(i)
print(len(b))
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
