-- sort/compare 100,000 [name age] records by two keys
local t = os.clock()
local names = {"ada", "ben", "cora", "dov", "eli", "fay", "gus", "hana", "ivo", "jun", "kai", "lea", "max", "nia", "oto", "pia"}
local b = {}
local x = 1
for i = 1, 100000 do
  x = (x * 75 + 74) % 65537
  b[#b + 1] = {names[x % 16 + 1], x % 90}
end
table.sort(b, function(p, q)
  if p[1] ~= q[1] then return p[1] < q[1] end
  return p[2] < q[2]
end)
print(b[1][1], b[1][2], b[#b][1], b[#b][2])
io.stderr:write(string.format("%.4f\n", os.clock() - t))
