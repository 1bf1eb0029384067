# sort 1 million integers (with making them)
import sys, time
t = time.perf_counter()
b = []
x = 1
for i in range(1000000):
    x = (x * 75 + 74) % 65537
    b.append(x)
b.sort()
print(b[0], b[-1])
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
