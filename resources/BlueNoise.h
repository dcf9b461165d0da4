// Built-in blue-noise data of the Raytraced passes, generated at build time by
// resources/BlueNoiseGen.cpp.
#pragma once

#include <array>

constexpr int kBlueNoisePointCount = 256;
constexpr int kBlueNoiseSize = 1024;
constexpr int kBlueNoiseImageBytes = 4 * kBlueNoiseSize * kBlueNoiseSize;

// 256 well-spread points in [0, 1)², as x, y pairs, uploaded with every full-screen pass.
// Every prefix is itself well spread: a render uses only the first numSamples of them.
extern const std::array<float, 2 * kBlueNoisePointCount> blue_noise_points;

// 1024 x 1024 RGBA bytes, rows in order, pixel (x, y) at byte 4 * (1024 * y + x). Only the
// first (red) byte of each pixel is read. The one byte past the image is the terminator of
// the literal that holds it.
extern const unsigned char blue_noise_img[kBlueNoiseImageBytes + 1];
