-- 1 million function calls that return early
local function early(n) if n > 0 then return n end return 0 end
local t = os.clock()
local i, total = 0, 0
for _ = 1, 1000000 do i = i + 1; total = total + early(i) end
print(total)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
