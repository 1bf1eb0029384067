# string appends, 1 million
import sys, time
t = time.perf_counter()
s = ""
for i in range(1000000):
    s += "ab"
print(len(s))
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
