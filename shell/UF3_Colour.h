// The gamma and angle constants of the renderer, the texture upload and the gradient editor, in one place.
// Each keeps the type its users compute in (float stays float, double stays double), so no pixel moves.
#pragma once

#include <cmath>
#include <numbers>

// Display-referred colour to linear light and back.
constexpr float UF3_GAMMA_DECODE = 2.2f;
constexpr double UF3_GAMMA_DECODE_D = 2.2;
constexpr float UF3_GAMMA_ENCODE = 0.4545f;
constexpr double UF3_GAMMA_ENCODE_D = 0.4545;
// The texture upload's own linearising power.
constexpr double UF3_UPLOAD_GAMMA_DECODE = 2.22;
// Below this approximate gamma a working space is linear already: blending in linear light would apply the
// curve twice, and the gradient bar is always blended linearly.
constexpr float UF3_LINEAR_WORKING_SPACE_GAMMA = 1.6f;

// Degrees to radians: the rounded factor the shaders also use, the exact factor, and the exact conversion
// as the product with pi divided by 180 (which rounds differently from the product with the factor).
constexpr double UF3_DEG_TO_RAD = 0.0174533;
constexpr double UF3_DEG_TO_RAD_EXACT = std::numbers::pi / 180.0;
static_assert(UF3_DEG_TO_RAD_EXACT == 0.017453292519943295);
constexpr double UF3_Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// Red, green and blue raised to `gamma`, computed in the gamma's type; alpha is left as it is.
template <typename Colour, typename Gamma>
void UF3_RaiseRGB(Colour& c, Gamma gamma) {
    c.red = decltype(c.red)(std::pow(Gamma(c.red), gamma));
    c.green = decltype(c.green)(std::pow(Gamma(c.green), gamma));
    c.blue = decltype(c.blue)(std::pow(Gamma(c.blue), gamma));
}
