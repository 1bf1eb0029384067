-- string-keyed map, 10,000 keys, 1 million updates
local t = os.clock()
local keys = {}
for i = 1, 10000 do keys[#keys + 1] = "key-" .. i end
local m, count = {}, 0
for _, k in ipairs(keys) do m[k] = 0 count = count + 1 end
for _ = 1, 100 do
  for _, k in ipairs(keys) do m[k] = 1 + m[k] end
end
print(count, m["key-77"])
io.stderr:write(string.format("%.4f\n", os.clock() - t))
