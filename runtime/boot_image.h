// The boot image: the library's sources as compact KIVBIN, made at build time by the first stage
// (tools/stage1) and carried in the executable's constant data by a generated table. The first
// stage itself is linked with an empty image.
#pragma once
#include <cstdint>

extern "C" const uint8_t kiv_boot_image[];
extern "C" const uint32_t kiv_boot_image_size;

// The build's record for system/build, as Kiv text ("date: ... git: ..."), written by the build
// beside the image (tools/build_stamp.cmake); the first stage's says none for both.
extern "C" const char kiv_build_stamp[];
