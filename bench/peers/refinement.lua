-- 1 million calls through a refinement
local function bump(x, step, once)
  if once then return x + 1 end
  return x + step
end

local t = os.clock()
local n = 0
for _ = 1, 1000000 do n = bump(n, 2, true) end
print(n)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
