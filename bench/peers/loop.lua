-- integer loop, 10 million iterations
local t = os.clock()
local i, total = 0, 0
while i < 10000000 do total = total + i; i = i + 1 end
print(total)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
