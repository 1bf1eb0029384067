# recursive fib 30
import sys, time
def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)
t = time.perf_counter()
print(fib(30))
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
