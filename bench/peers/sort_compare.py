# sort/compare 100,000 integers (with making them)
import functools, sys, time
t = time.perf_counter()
b = []
x = 1
for i in range(100000):
    x = (x * 75 + 74) % 65537
    b.append(x)
b.sort(key=functools.cmp_to_key(lambda p, q: -1 if p < q else (1 if q < p else 0)))
print(b[0], b[-1])
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
