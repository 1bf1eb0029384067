-- n-body, 5 bodies as objects, 100,000 steps
local SOLAR_MASS = 4 * 3.141592653589793 * 3.141592653589793
local DAYS = 365.24
local sqrt = math.sqrt

local function body(x, y, z, vx, vy, vz, mass)
  return {x = x, y = y, z = z, vx = vx * DAYS, vy = vy * DAYS, vz = vz * DAYS, mass = mass * SOLAR_MASS}
end

local function advance(bodies, dt)
  local n = #bodies
  for i = 1, n do
    local a = bodies[i]
    for j = i + 1, n do
      local b = bodies[j]
      local dx = a.x - b.x
      local dy = a.y - b.y
      local dz = a.z - b.z
      local d2 = dx * dx + dy * dy + dz * dz
      local mag = dt / (d2 * sqrt(d2))
      a.vx = a.vx - dx * b.mass * mag
      a.vy = a.vy - dy * b.mass * mag
      a.vz = a.vz - dz * b.mass * mag
      b.vx = b.vx + dx * a.mass * mag
      b.vy = b.vy + dy * a.mass * mag
      b.vz = b.vz + dz * a.mass * mag
    end
  end
  for i = 1, n do
    local a = bodies[i]
    a.x = a.x + dt * a.vx
    a.y = a.y + dt * a.vy
    a.z = a.z + dt * a.vz
  end
end

local function energy(bodies)
  local e, n = 0.0, #bodies
  for i = 1, n do
    local a = bodies[i]
    e = e + 0.5 * a.mass * (a.vx * a.vx + a.vy * a.vy + a.vz * a.vz)
    for j = i + 1, n do
      local b = bodies[j]
      local dx = a.x - b.x
      local dy = a.y - b.y
      local dz = a.z - b.z
      e = e - a.mass * b.mass / sqrt(dx * dx + dy * dy + dz * dz)
    end
  end
  return e
end

local t = os.clock()
local bodies = {
  body(0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0),
  body(4.84, -1.16, -0.104, 0.00166, 0.00770, -0.0000690, 0.000954),
  body(8.34, 4.12, -0.403, -0.00277, 0.00500, 0.0000230, 0.000286),
  body(12.89, -15.11, -0.223, 0.00296, 0.00238, -0.0000297, 0.0000437),
  body(15.38, -25.92, 0.179, 0.00268, 0.00163, -0.0000951, 0.0000515),
}
local px, py, pz = 0.0, 0.0, 0.0
for _, b in ipairs(bodies) do
  px = px + b.vx * b.mass
  py = py + b.vy * b.mass
  pz = pz + b.vz * b.mass
end
local sun = bodies[1]
sun.vx, sun.vy, sun.vz = -px / SOLAR_MASS, -py / SOLAR_MASS, -pz / SOLAR_MASS
print(string.format("%.9f", energy(bodies)))
for _ = 1, 100000 do advance(bodies, 0.01) end
print(string.format("%.9f", energy(bodies)))
io.stderr:write(string.format("%.4f\n", os.clock() - t))
