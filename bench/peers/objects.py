# 1 million two-field objects kept in a block
import sys, time

class Point:
    def __init__(self, x, y):
        self.x = x
        self.y = y

t = time.perf_counter()
b = []
for i in range(1, 1000001):
    b.append(Point(i, i * 2))
print(len(b), b[-1].y)
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
