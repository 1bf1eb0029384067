# integer loop, 10 million iterations
import sys, time
t = time.perf_counter()
i = 0
total = 0
while i < 10000000:
    total = total + i
    i = i + 1
print(total)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
