-- recursive fib 30
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
local t = os.clock()
print(fib(30))
io.stderr:write(string.format("%.4f\n", os.clock() - t))
