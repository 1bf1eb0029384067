-- sort 1 million integers (with making them)
local t = os.clock()
local b = {}
local x = 1
for i = 1, 1000000 do
  x = (x * 75 + 74) % 65537
  b[#b + 1] = x
end
table.sort(b)
print(b[1], b[#b])
io.stderr:write(string.format("%.4f\n", os.clock() - t))
