# object fields, 2 million read-write rounds
import sys, time

class Counter:
    def __init__(self):
        self.a = 0
        self.b = 1

t = time.perf_counter()
o = Counter()
for _ in range(2000000):
    o.a = o.a + o.b
    o.b = 3 - o.b
print(o.a)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
