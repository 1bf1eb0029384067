-- object fields, 2 million read-write rounds
local t = os.clock()
local o = {a = 0, b = 1}
for _ = 1, 2000000 do
  o.a = o.a + o.b
  o.b = 3 - o.b
end
print(o.a)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
