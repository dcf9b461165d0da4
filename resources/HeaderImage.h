// The header image of the Effect Controls panel, generated at build time by
// resources/HeaderImageGen.cpp.
#pragma once

#include <cstddef>

constexpr int UF3_HEADER_IMAGE_WIDTH = 400;
constexpr int UF3_HEADER_IMAGE_HEIGHT = 226;
constexpr int UF3_HEADER_IMAGE_ROW_BYTES = 4 * UF3_HEADER_IMAGE_WIDTH;
constexpr size_t UF3_HEADER_IMAGE_BYTES = size_t(UF3_HEADER_IMAGE_ROW_BYTES) * UF3_HEADER_IMAGE_HEIGHT;

// Blue, green, red, alpha bytes with straight alpha, rows top to bottom without gaps.
extern const unsigned char banner5_map[UF3_HEADER_IMAGE_BYTES];
