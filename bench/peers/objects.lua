-- 1 million two-field objects kept in a block
local t = os.clock()
local b = {}
for i = 1, 1000000 do b[#b + 1] = {x = i, y = i * 2} end
print(#b, b[#b].y)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
