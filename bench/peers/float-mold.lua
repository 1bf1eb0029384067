-- mold 1 million floats (Lua has no shortest text: "%.17g" is its text that reads back)
local t = os.clock()
local n = 0
for i = 1, 333334 do
  n = n + #string.format("%.17g", i / 7.0) + #string.format("%.17g", i * 0.25)
        + #string.format("%.17g", i * 1.1e-300)
end
print(n)
io.stderr:write(string.format("%.4f\n", os.clock() - t))
