# 1 million function calls that return early
import sys, time
def early(n):
    if n > 0:
        return n
    return 0
t = time.perf_counter()
i = 0
total = 0
for _ in range(1000000):
    i = i + 1
    total = total + early(i)
print(total)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
