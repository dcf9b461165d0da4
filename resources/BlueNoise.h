// Built-in blue-noise data of the Raytraced passes.
#pragma once

#include <array>

constexpr int kBlueNoisePointCount = 256;

// 256 well-spread points in [0, 1)², as x, y pairs, uploaded with every full-screen pass.
extern const std::array<float, 2 * kBlueNoisePointCount> blue_noise_points;
