-- string appends, 1 million (Lua strings are immutable: the table of parts is the idiom)
local t = os.clock()
local parts = {}
for i = 1, 1000000 do parts[#parts + 1] = "ab" end
local s = table.concat(parts)
print(#s)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
