# n-body, 5 bodies as objects, 100,000 steps
import sys, time
from math import sqrt

SOLAR_MASS = 4 * 3.141592653589793 * 3.141592653589793
DAYS = 365.24

class Body:
    def __init__(self, x, y, z, vx, vy, vz, mass):
        self.x, self.y, self.z = x, y, z
        self.vx, self.vy, self.vz = vx * DAYS, vy * DAYS, vz * DAYS
        self.mass = mass * SOLAR_MASS

def advance(bodies, dt):
    for i, a in enumerate(bodies):
        for b in bodies[i + 1:]:
            dx = a.x - b.x
            dy = a.y - b.y
            dz = a.z - b.z
            d2 = dx * dx + dy * dy + dz * dz
            mag = dt / (d2 * sqrt(d2))
            a.vx = a.vx - dx * b.mass * mag
            a.vy = a.vy - dy * b.mass * mag
            a.vz = a.vz - dz * b.mass * mag
            b.vx = b.vx + dx * a.mass * mag
            b.vy = b.vy + dy * a.mass * mag
            b.vz = b.vz + dz * a.mass * mag
    for a in bodies:
        a.x = a.x + dt * a.vx
        a.y = a.y + dt * a.vy
        a.z = a.z + dt * a.vz

def energy(bodies):
    e = 0.0
    for i, a in enumerate(bodies):
        e = e + 0.5 * a.mass * (a.vx * a.vx + a.vy * a.vy + a.vz * a.vz)
        for b in bodies[i + 1:]:
            dx = a.x - b.x
            dy = a.y - b.y
            dz = a.z - b.z
            e = e - a.mass * b.mass / sqrt(dx * dx + dy * dy + dz * dz)
    return e

t = time.perf_counter()
bodies = [
    Body(0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0),
    Body(4.84, -1.16, -0.104, 0.00166, 0.00770, -0.0000690, 0.000954),
    Body(8.34, 4.12, -0.403, -0.00277, 0.00500, 0.0000230, 0.000286),
    Body(12.89, -15.11, -0.223, 0.00296, 0.00238, -0.0000297, 0.0000437),
    Body(15.38, -25.92, 0.179, 0.00268, 0.00163, -0.0000951, 0.0000515),
]
px = py = pz = 0.0
for b in bodies:
    px = px + b.vx * b.mass
    py = py + b.vy * b.mass
    pz = pz + b.vz * b.mass
sun = bodies[0]
sun.vx, sun.vy, sun.vz = -px / SOLAR_MASS, -py / SOLAR_MASS, -pz / SOLAR_MASS
print("%.9f" % energy(bodies))
for _ in range(100000):
    advance(bodies, 0.01)
print("%.9f" % energy(bodies))
print("%.4f" % (time.perf_counter() - t), file=sys.stderr)
