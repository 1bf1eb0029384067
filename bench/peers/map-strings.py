# string-keyed map, 10,000 keys, 1 million updates
import sys, time
t = time.perf_counter()
keys = []
for i in range(1, 10001):
    keys.append("key-" + str(i))
m = {}
for k in keys:
    m[k] = 0
for _ in range(100):
    for k in keys:
        m[k] = 1 + m[k]
print(len(m), m["key-77"])
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
