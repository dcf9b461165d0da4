// Build-time generator of the built-in blue-noise data: writes one C++ source holding the
// 1024 x 1024 RGBA noise image and the 256 sample points (see BlueNoise.h).
//
// The image repeats one 128 x 128 void-and-cluster tile: ranks of a dither array whose every
// threshold level is evenly spread, wrapping at the tile's edges so that copies join without
// seams. The points come from best-candidate sampling on the torus, so that every prefix of
// the list (12, 25, 50, 100 or 250 points are used) is itself well spread.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/BlueNoise.h"

namespace {

constexpr int kTile = 128;
constexpr int kTileArea = kTile * kTile;
static_assert(kBlueNoiseSize % kTile == 0, "the tile must repeat a whole number of times");
// Ulichney's filter width; 1.5 pixels gives the classic spectrum with no visible clumps.
constexpr double kSigma = 1.5;
// Beyond 9 pixels the Gaussian is below 1e-7 of its peak.
constexpr int kKernelRadius = 9;
// Fraction of the tile set in the starting pattern.
constexpr double kInitialDensity = 0.1;
// Candidates per existing point in best-candidate sampling.
constexpr int kCandidatesPerPoint = 16;

// splitmix64: fixed output on every platform, unlike the standard distributions.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double Unit() { return double(Next() >> 11) * 0x1.0p-53; }  // [0, 1)
};

int Wrap(int v) { return (v % kTile + kTile) % kTile; }

// Gaussian energy of the set pixels at every pixel of the tile, kept up to date as pixels
// are set and cleared.
class Energy {
public:
    Energy() : m_energy(kTileArea, 0.0) {
        for (int dy = -kKernelRadius; dy <= kKernelRadius; ++dy)
            for (int dx = -kKernelRadius; dx <= kKernelRadius; ++dx)
                m_kernel.push_back(std::exp(-(dx * dx + dy * dy) / (2.0 * kSigma * kSigma)));
    }
    void Add(int index, double sign) {
        const int x = index % kTile, y = index / kTile;
        const double* k = m_kernel.data();
        for (int dy = -kKernelRadius; dy <= kKernelRadius; ++dy)
            for (int dx = -kKernelRadius; dx <= kKernelRadius; ++dx)
                m_energy[size_t(Wrap(y + dy) * kTile + Wrap(x + dx))] += sign * *k++;
    }
    double At(int index) const { return m_energy[size_t(index)]; }

private:
    std::vector<double> m_kernel;
    std::vector<double> m_energy;
};

// Among pixels whose state is `state`, the one of highest energy (the tightest cluster of
// set pixels) or of lowest (the largest void). The first such pixel wins ties.
int Extreme(const std::vector<uint8_t>& bits, const Energy& energy, uint8_t state, bool highest) {
    int best = -1;
    for (int i = 0; i < kTileArea; ++i) {
        if (bits[size_t(i)] != state) continue;
        if (best < 0 || (highest ? energy.At(i) > energy.At(best) : energy.At(i) < energy.At(best))) best = i;
    }
    return best;
}

// Rank of every pixel, 0 to kTileArea - 1: the order in which the pixels join the dither
// pattern as its threshold rises.
std::vector<int> VoidAndClusterRanks() {
    Random random{0x5eed0fb1ull};
    std::vector<uint8_t> bits(kTileArea, 0);
    Energy energy;
    int ones = 0;
    while (ones < int(kInitialDensity * kTileArea)) {
        const int i = int(random.Next() % kTileArea);
        if (bits[size_t(i)]) continue;
        bits[size_t(i)] = 1;
        energy.Add(i, 1.0);
        ++ones;
    }
    // Spread the starting pattern: move the tightest cluster's pixel into the largest void
    // until the move would put it straight back (the cap only guards against a cycle).
    for (int moves = 0; moves < kTileArea; ++moves) {
        const int cluster = Extreme(bits, energy, 1, true);
        bits[size_t(cluster)] = 0;
        energy.Add(cluster, -1.0);
        const int gap = Extreme(bits, energy, 0, false);
        bits[size_t(gap)] = 1;
        energy.Add(gap, 1.0);
        if (gap == cluster) break;
    }

    std::vector<int> rank(kTileArea, -1);
    // The starting pattern's pixels ranked downwards by taking clusters away...
    {
        std::vector<uint8_t> shrinking = bits;
        Energy e = energy;
        for (int r = ones - 1; r >= 0; --r) {
            const int cluster = Extreme(shrinking, e, 1, true);
            shrinking[size_t(cluster)] = 0;
            e.Add(cluster, -1.0);
            rank[size_t(cluster)] = r;
        }
    }
    // ...and the rest upwards by filling voids. Past half full the largest void of the set
    // pixels is the tightest cluster of the unset ones, so one rule serves to the end.
    for (int r = ones; r < kTileArea; ++r) {
        const int gap = Extreme(bits, energy, 0, false);
        bits[size_t(gap)] = 1;
        energy.Add(gap, 1.0);
        rank[size_t(gap)] = r;
    }
    return rank;
}

double TorusDistanceSquared(double ax, double ay, double bx, double by) {
    double dx = std::fabs(ax - bx), dy = std::fabs(ay - by);
    dx = std::min(dx, 1.0 - dx);
    dy = std::min(dy, 1.0 - dy);
    return dx * dx + dy * dy;
}

std::vector<float> BestCandidatePoints() {
    Random random{0xb1e5ca11ull};
    std::vector<double> points;
    for (int n = 0; n < kBlueNoisePointCount; ++n) {
        double bestX = 0, bestY = 0, bestDistance = -1;
        for (int c = 0; c < kCandidatesPerPoint * n + 1; ++c) {
            const double x = random.Unit(), y = random.Unit();
            double nearest = 2.0;
            for (size_t j = 0; j < points.size(); j += 2)
                nearest = std::min(nearest, TorusDistanceSquared(x, y, points[j], points[j + 1]));
            if (nearest > bestDistance) {
                bestDistance = nearest;
                bestX = x;
                bestY = y;
            }
        }
        points.push_back(bestX);
        points.push_back(bestY);
    }
    std::vector<float> result;
    // A value just under 1 must not round up to 1 as a float.
    for (double v : points) result.push_back(std::min(float(v), std::nextafter(1.0f, 0.0f)));
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    const std::vector<int> rank = VoidAndClusterRanks();
    const std::vector<float> points = BestCandidatePoints();

    std::string text = "// Generated at build time by resources/BlueNoiseGen.cpp; do not edit.\n"
                       "#include \"resources/BlueNoise.h\"\n\n"
                       "constinit const std::array<float, 2 * kBlueNoisePointCount> blue_noise_points = {\n";
    char number[32];
    for (size_t i = 0; i < points.size(); ++i) {
        std::snprintf(number, sizeof number, "%.9gf,%s", double(points[i]), i % 8 == 7 ? "\n" : " ");
        text += number;
    }
    text += "};\n\n// Red: the tile's rank spread evenly over 0..255; green and blue 0; alpha opaque.\n"
            "const unsigned char blue_noise_img[kBlueNoiseImageBytes + 1] =\n";
    // Octal escapes of three digits throughout: no escape can swallow the next character.
    const char* rest[3] = {"\\000", "\\000", "\\377"};
    for (int y = 0; y < kBlueNoiseSize; ++y) {
        text += '"';
        for (int x = 0; x < kBlueNoiseSize; ++x) {
            const int value = rank[size_t((y % kTile) * kTile + x % kTile)] * 256 / kTileArea;
            std::snprintf(number, sizeof number, "\\%03o", value);
            text += number;
            for (const char* r : rest) text += r;
        }
        text += "\"\n";
    }
    text += ";\n";

    // Rewrite only on change, so a rerun does not rebuild the effect.
    std::string existing;
    if (FILE* in = std::fopen(argv[1], "rb")) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) existing.append(buffer, n);
        std::fclose(in);
    }
    if (existing == text) return 0;
    FILE* out = std::fopen(argv[1], "wb");
    bool written = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out != nullptr) written = std::fclose(out) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        std::remove(argv[1]);  // a half-written table must not look up to date
        return 1;
    }
    return 0;
}
