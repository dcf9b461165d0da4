// Stand-in for the generated blue-noise points: the R2 low-discrepancy sequence, which spreads
// any prefix evenly over the unit square. Same count and range as the real table.
#include "resources/BlueNoise.h"

namespace {

// 1 / g and 1 / g² for the plastic number g, the root of x³ = x + 1.
constexpr double kR2StepX = 0.7548776662466927;
constexpr double kR2StepY = 0.5698402909980532;
// The largest float below 1: a fraction just under 1 must not round up to it.
constexpr float kBelowOne = 0x1.fffffep-1f;

constexpr float Fraction(double v) {
    const float f = static_cast<float>(v - static_cast<double>(static_cast<long long>(v)));
    return f < kBelowOne ? f : kBelowOne;
}

constexpr std::array<float, 2 * kBlueNoisePointCount> MakePoints() {
    std::array<float, 2 * kBlueNoisePointCount> points{};
    for (int i = 0; i < kBlueNoisePointCount; ++i) {
        points[2 * i] = Fraction(0.5 + kR2StepX * (i + 1));
        points[2 * i + 1] = Fraction(0.5 + kR2StepY * (i + 1));
    }
    return points;
}

}  // namespace

constinit const std::array<float, 2 * kBlueNoisePointCount> blue_noise_points = MakePoints();
