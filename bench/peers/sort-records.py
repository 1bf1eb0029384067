# sort/compare 100,000 [name age] records by two keys
import functools, sys, time

def by_name_then_age(p, q):
    if p[0] != q[0]:
        return -1 if p[0] < q[0] else 1
    return -1 if p[1] < q[1] else (1 if q[1] < p[1] else 0)

t = time.perf_counter()
names = ["ada", "ben", "cora", "dov", "eli", "fay", "gus", "hana", "ivo", "jun", "kai", "lea", "max", "nia", "oto", "pia"]
b = []
x = 1
for i in range(100000):
    x = (x * 75 + 74) % 65537
    b.append([names[x % 16], x % 90])
b.sort(key=functools.cmp_to_key(by_name_then_age))
print(b[0][0], b[0][1], b[-1][0], b[-1][1])
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
