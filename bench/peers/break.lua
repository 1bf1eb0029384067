-- 1 million loop iterations that break or continue
local t = os.clock()
local hits = 0
for i = 1, 1000000 do
  for _ = 1, 1 do
    if i % 2 == 1 then goto continue end
    hits = hits + 1
    ::continue::
  end
  for _ = 1, 3 do break end
end
print(hits)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
