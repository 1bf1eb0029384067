# string appends, 1 million (a += on a str copies it whenever it cannot grow in place, which makes
# the loop quadratic; the list of parts joined once is the idiom)
import sys, time
t = time.perf_counter()
parts = []
for i in range(1000000):
    parts.append("ab")
s = "".join(parts)
print(len(s))
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
