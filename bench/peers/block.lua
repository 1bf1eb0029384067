-- building a 1-million-item block
local t = os.clock()
local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
print(#b)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
