#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>
#include <vector>

#include "host/PixelOps.h"
#include "host/TransferModes.h"
#include "host/WorldSuite.h"

namespace {

// A world from the host's table, disposed on scope exit. Row padding is set
// to a sentinel so writes past a row's end show up.
class World {
public:
    static constexpr unsigned char kPad = 0x5A;

    World(A_long w, A_long h, PF_PixelFormat format, bool clear = true) : m_format(format) {
        EXPECT_EQ(host::WorldTable::Instance().New(w, h, clear, format, &m_world), PF_Err_NONE);
        for (A_long y = 0; y < h; ++y) std::memset(Bytes(y) + RowUsed(), kPad, m_world.rowbytes - RowUsed());
    }
    ~World() { host::WorldTable::Instance().Dispose(&m_world); }
    World(const World&) = delete;

    PF_EffectWorld* get() { return &m_world; }
    A_long W() const { return m_world.width; }
    A_long H() const { return m_world.height; }

    template <class P>
    P& At(A_long x, A_long y) {
        return reinterpret_cast<P*>(Bytes(y))[x];
    }
    PF_Pixel& P8(A_long x, A_long y) { return At<PF_Pixel>(x, y); }
    PF_PixelFloat& PF(A_long x, A_long y) { return At<PF_PixelFloat>(x, y); }

    bool PaddingIntact() {
        for (A_long y = 0; y < H(); ++y)
            for (A_long i = RowUsed(); i < m_world.rowbytes; ++i)
                if (Bytes(y)[i] != kPad) return false;
        return true;
    }
    // Rows compared over their pixels only.
    bool SamePixels(World& other) {
        if (other.W() != W() || other.H() != H()) return false;
        for (A_long y = 0; y < H(); ++y)
            if (std::memcmp(Bytes(y), other.Bytes(y), RowUsed()) != 0) return false;
        return true;
    }

private:
    unsigned char* Bytes(A_long y) { return reinterpret_cast<unsigned char*>(m_world.data) + y * m_world.rowbytes; }
    A_long RowUsed() const { return m_world.width * A_long(host::WorldTable::PixelSize(m_format)); }
    PF_EffectWorld m_world{};
    PF_PixelFormat m_format;
};

constexpr PF_PixelFormat k8 = PF_PixelFormat_ARGB32;
constexpr PF_PixelFormat k16 = PF_PixelFormat_ARGB64;
constexpr PF_PixelFormat k32 = PF_PixelFormat_ARGB128;

bool Eq(const PF_Pixel& a, const PF_Pixel& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
bool Eq(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
::testing::AssertionResult Is(const PF_Pixel& got, const PF_Pixel& want) {
    if (Eq(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << int(got.alpha) << ", " << int(got.red) << ", " << int(got.green)
                                         << ", " << int(got.blue) << ") want (" << int(want.alpha) << ", "
                                         << int(want.red) << ", " << int(want.green) << ", " << int(want.blue) << ")";
}

// Distinct, repeatable contents: partial alphas, every channel different.
PF_Pixel Pattern8(A_long x, A_long y) {
    unsigned v = unsigned(x * 73 + y * 151 + 17);
    return {A_u_char(v * 7), A_u_char(v * 13 + 1), A_u_char(v * 29 + 3), A_u_char(v * 31 + 5)};
}
PF_PixelFloat PatternF(A_long x, A_long y) {
    float v = float(x * 0.1234567 + y * 0.7654321);
    return {std::fmod(v, 1.0f), std::fmod(v * 1.37f, 1.0f), std::fmod(v * 2.71f, 1.0f) + 0.5f, v};
}
// shift: paint as if the pattern started that many pixels further right.
void Paint(World& w, A_long shift = 0) {
    for (A_long y = 0; y < w.H(); ++y)
        for (A_long x = 0; x < w.W(); ++x) w.P8(x, y) = Pattern8(x + shift, y);
}
void PaintF(World& w, A_long shift = 0) {
    for (A_long y = 0; y < w.H(); ++y)
        for (A_long x = 0; x < w.W(); ++x) w.PF(x, y) = PatternF(x + shift, y);
}

PF_CompositeMode Mode(PF_TransferMode xfer, int opacity = 255) {
    PF_CompositeMode m{};
    m.xfer = xfer;
    m.opacity = A_u_char(opacity);
    return m;
}

PF_FloatMatrix Matrix(double a, double b, double c, double d, double tx, double ty) {
    PF_FloatMatrix m{};
    m.mat[0][0] = a;
    m.mat[0][1] = b;
    m.mat[1][0] = c;
    m.mat[1][1] = d;
    m.mat[2][0] = tx;
    m.mat[2][1] = ty;
    m.mat[2][2] = 1;
    return m;
}
PF_FloatMatrix Translate(double tx, double ty) { return Matrix(1, 0, 0, 1, tx, ty); }

class PixelOps : public ::testing::Test {
protected:
    void SetUp() override {
        host::WorldTable::Instance().Reset();
        host::SetIterateThreads(0);
        host::SetIterateCancelAfterRows(0);
    }
    void TearDown() override {
        host::SetIterateThreads(0);
        host::SetIterateCancelAfterRows(0);
        EXPECT_EQ(host::WorldTable::Instance().Misuses(), 0);
    }
};

// ---- fill --------------------------------------------------------------------

TEST_F(PixelOps, FillClipsToTheWorldAndLeavesTheRestAlone) {
    World w(5, 4, k8);
    const PF_Pixel c{200, 10, 20, 30};
    const PF_Rect r{-3, 2, 3, 99};  // hangs off the left and the bottom
    ASSERT_EQ(host::Fill(nullptr, &c, &r, w.get()), PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 5; ++x)
            EXPECT_TRUE(Is(w.P8(x, y), (x < 3 && y >= 2) ? c : PF_Pixel{0, 0, 0, 0})) << x << "," << y;
    EXPECT_TRUE(w.PaddingIntact());

    // Entirely outside, or inside-out: nothing happens.
    const PF_Rect outside{5, 0, 9, 4}, inverted{4, 3, 1, 1};
    const PF_Pixel other{1, 2, 3, 4};
    EXPECT_EQ(host::Fill(nullptr, &other, &outside, w.get()), PF_Err_NONE);
    EXPECT_EQ(host::Fill(nullptr, &other, &inverted, w.get()), PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 5; ++x) EXPECT_FALSE(Eq(w.P8(x, y), other));
    EXPECT_TRUE(w.PaddingIntact());

    // A rect spanning every coordinate is the whole world.
    const PF_Rect huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    ASSERT_EQ(host::Fill(nullptr, &other, &huge, w.get()), PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 5; ++x) EXPECT_TRUE(Is(w.P8(x, y), other));
    EXPECT_TRUE(w.PaddingIntact());

    // Null colour, null rect: the whole world to transparent black.
    ASSERT_EQ(host::Fill(nullptr, nullptr, nullptr, w.get()), PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 5; ++x) EXPECT_TRUE(Is(w.P8(x, y), {0, 0, 0, 0}));
    EXPECT_TRUE(w.PaddingIntact());
    EXPECT_EQ(host::Fill(nullptr, &c, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(PixelOps, FillDeepWorldsScalesTheEightBitColour) {
    World f(3, 3, k32, false), h(3, 3, k16, false);
    const PF_Pixel c{255, 128, 0, 51};
    ASSERT_EQ(host::Fill(nullptr, &c, nullptr, f.get()), PF_Err_NONE);
    ASSERT_EQ(host::Fill(nullptr, &c, nullptr, h.get()), PF_Err_NONE);
    for (A_long y = 0; y < 3; ++y) {
        for (A_long x = 0; x < 3; ++x) {
            EXPECT_FLOAT_EQ(f.PF(x, y).alpha, 1.0f);
            EXPECT_FLOAT_EQ(f.PF(x, y).red, 128 / 255.0f);
            EXPECT_FLOAT_EQ(f.PF(x, y).green, 0.0f);
            EXPECT_FLOAT_EQ(f.PF(x, y).blue, 0.2f);
            const PF_Pixel16& p = h.At<PF_Pixel16>(x, y);
            EXPECT_EQ(p.alpha, PF_MAX_CHAN16);
            EXPECT_EQ(p.red, std::lround(128 * 32768.0 / 255));
            EXPECT_EQ(p.blue, std::lround(51 * 32768.0 / 255));
        }
    }
    EXPECT_TRUE(f.PaddingIntact());
    EXPECT_TRUE(h.PaddingIntact());
}

// ---- copy --------------------------------------------------------------------

TEST_F(PixelOps, CopyWholeWorldsBitForBit) {
    World s8(7, 5, k8), d8(7, 5, k8, false), sf(7, 5, k32), df(7, 5, k32, false);
    Paint(s8);
    PaintF(sf);
    ASSERT_EQ(host::Copy(nullptr, s8.get(), d8.get(), nullptr, nullptr), PF_Err_NONE);
    ASSERT_EQ(host::Copy(nullptr, sf.get(), df.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(d8.SamePixels(s8));
    EXPECT_TRUE(df.SamePixels(sf));
    EXPECT_TRUE(d8.PaddingIntact());
    EXPECT_TRUE(df.PaddingIntact());
}

// Every destination pixel is written exactly when its source lies inside the
// source world and both rects; the rest keep their contents.
TEST_F(PixelOps, CopyOffsetsAndClipsRectsAgainstBothWorlds) {
    struct Case {
        PF_Rect s, d;
    };
    const Case cases[] = {
        {{1, 1, 4, 3}, {5, 0, 8, 2}},        // inside both
        {{-2, -1, 3, 3}, {4, 2, 9, 6}},      // source off its top-left, destination off its bottom-right
        {{3, 2, 9, 9}, {-4, -5, 2, 2}},      // the other way round
        {{0, 0, 4, 4}, {20, 20, 24, 24}},    // destination entirely outside
    };
    for (const Case& c : cases) {
        World s(6, 5, k8), d(8, 6, k8);
        Paint(s);
        const PF_Pixel fillColour{9, 9, 9, 9};
        host::Fill(nullptr, &fillColour, nullptr, d.get());
        PF_Rect sr = c.s, dr = c.d;
        ASSERT_EQ(host::Copy(nullptr, s.get(), d.get(), &sr, &dr), PF_Err_NONE);
        for (A_long y = 0; y < d.H(); ++y) {
            for (A_long x = 0; x < d.W(); ++x) {
                A_long sx = x - dr.left + sr.left, sy = y - dr.top + sr.top;
                bool written = x >= dr.left && x < dr.right && y >= dr.top && y < dr.bottom && sx >= 0 && sy >= 0 &&
                               sx < s.W() && sy < s.H();
                EXPECT_TRUE(Is(d.P8(x, y), written ? Pattern8(sx, sy) : fillColour))
                    << "dst " << x << "," << y << " for src rect " << sr.left << "," << sr.top;
            }
        }
        EXPECT_TRUE(d.PaddingIntact());
    }
}

TEST_F(PixelOps, CopyConvertsDepthRoundingAndClamping) {
    World s8(4, 1, k8), df(4, 1, k32, false);
    s8.P8(0, 0) = {255, 0, 1, 254};
    s8.P8(3, 0) = {128, 77, 200, 3};
    ASSERT_EQ(host::Copy(nullptr, s8.get(), df.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(Eq(df.PF(0, 0), {1.0f, 0.0f, 1 / 255.0f, 254 / 255.0f}));
    EXPECT_TRUE(Eq(df.PF(3, 0), {128 / 255.0f, 77 / 255.0f, 200 / 255.0f, 3 / 255.0f}));

    World sf(2, 1, k32), d8(2, 1, k8, false);
    sf.PF(0, 0) = {1.5f, -0.2f, 0.5f, 0.498f};  // over and under range, halfway, just under
    sf.PF(1, 0) = {0.999f, 1 / 255.0f, 254.49f / 255, 254.51f / 255};
    ASSERT_EQ(host::Copy(nullptr, sf.get(), d8.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(Is(d8.P8(0, 0), {255, 0, 128, 127}));
    EXPECT_TRUE(Is(d8.P8(1, 0), {255, 1, 254, 255}));
    EXPECT_TRUE(d8.PaddingIntact());

    // There and back again is exact for every 8-bit value.
    World all(256, 1, k8), mid(256, 1, k32), back(256, 1, k8);
    for (A_long x = 0; x < 256; ++x) all.P8(x, 0) = {A_u_char(x), A_u_char(255 - x), A_u_char(x), A_u_char(x ^ 0x55)};
    ASSERT_EQ(host::Copy(nullptr, all.get(), mid.get(), nullptr, nullptr), PF_Err_NONE);
    ASSERT_EQ(host::Copy(nullptr, mid.get(), back.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(back.SamePixels(all));
}

TEST_F(PixelOps, CopyResamplesBetweenDifferentSizesBilinearly) {
    // Up: two pixels onto four. Centres land at 0.25, 0.75, 1.25, 1.75; the
    // outer ones clamp to the source edge.
    World s(2, 1, k8), up(4, 1, k8);
    s.P8(0, 0) = {255, 0, 0, 0};
    s.P8(1, 0) = {255, 255, 0, 0};
    ASSERT_EQ(host::Copy(nullptr, s.get(), up.get(), nullptr, nullptr), PF_Err_NONE);
    const int wantUp[] = {0, 64, 191, 255};
    for (A_long x = 0; x < 4; ++x) EXPECT_TRUE(Is(up.P8(x, 0), {255, A_u_char(wantUp[x]), 0, 0})) << x;
    // The same down a column.
    World col(1, 2, k8), tall(1, 4, k8);
    col.P8(0, 0) = s.P8(0, 0);
    col.P8(0, 1) = s.P8(1, 0);
    ASSERT_EQ(host::Copy(nullptr, col.get(), tall.get(), nullptr, nullptr), PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y) EXPECT_TRUE(Is(tall.P8(0, y), {255, A_u_char(wantUp[y]), 0, 0})) << y;

    // Down: four onto two averages neighbouring pairs.
    World four(4, 1, k32), two(2, 1, k32);
    const float v[] = {0.0f, 0.4f, 0.8f, 1.0f};
    for (A_long x = 0; x < 4; ++x) four.PF(x, 0) = {1, v[x], v[x], v[x]};
    ASSERT_EQ(host::Copy(nullptr, four.get(), two.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_FLOAT_EQ(two.PF(0, 0).red, 0.2f);
    EXPECT_FLOAT_EQ(two.PF(1, 0).red, 0.9f);

    // A source rect hanging off the world samples only inside it.
    World big(9, 7, k8), d(3, 3, k8);
    const PF_Pixel c{255, 40, 80, 120};
    host::Fill(nullptr, &c, nullptr, big.get());
    PF_Rect sr{5, 4, 14, 13}, dr{0, 0, 3, 3};
    ASSERT_EQ(host::Copy(nullptr, big.get(), d.get(), &sr, &dr), PF_Err_NONE);
    for (A_long y = 0; y < 3; ++y)
        for (A_long x = 0; x < 3; ++x) EXPECT_TRUE(Is(d.P8(x, y), c));
    EXPECT_TRUE(d.PaddingIntact());
}

TEST_F(PixelOps, CopyWithinOneWorldReadsTheSourceBeforeWriting) {
    for (int down : {0, 1}) {
        World w(6, 6, k8), ref(6, 6, k8);
        Paint(w);
        Paint(ref);
        PF_Rect sr = down ? PF_Rect{0, 0, 4, 4} : PF_Rect{2, 2, 6, 6};
        PF_Rect dr = down ? PF_Rect{1, 1, 5, 5} : PF_Rect{1, 1, 5, 5};
        ASSERT_EQ(host::Copy(nullptr, w.get(), w.get(), &sr, &dr), PF_Err_NONE);
        for (A_long y = 0; y < 6; ++y) {
            for (A_long x = 0; x < 6; ++x) {
                bool in = x >= 1 && x < 5 && y >= 1 && y < 5;
                PF_Pixel want = in ? ref.P8(x - 1 + sr.left, y - 1 + sr.top) : ref.P8(x, y);
                EXPECT_TRUE(Is(w.P8(x, y), want)) << x << "," << y;
            }
        }
    }
}

TEST_F(PixelOps, CopyRejectsWorldsItCannotRead) {
    World a(2, 2, k8);
    PF_EffectWorld bogus = *a.get();
    bogus.rowbytes = 4;  // shorter than a row of two pixels
    EXPECT_EQ(host::Copy(nullptr, &bogus, a.get(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::Copy(nullptr, nullptr, a.get(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

// ---- transform_world -----------------------------------------------------------

TEST_F(PixelOps, IdentityTransformReproducesTheSourceBitForBit) {
    const PF_FloatMatrix id = Translate(0, 0);
    for (PF_TransferMode xfer : {PF_Xfer_COPY, PF_Xfer_IN_FRONT}) {
        for (PF_Quality q : {PF_Quality_HI, PF_Quality_LO}) {
            for (PF_ModeFlags flags : {PF_MF_Alpha_PREMUL, PF_MF_Alpha_STRAIGHT}) {
                for (PF_Boolean src2dst : {PF_Boolean(0), PF_Boolean(1)}) {
                    World s8(9, 7, k8), d8(9, 7, k8), sf(9, 7, k32), df(9, 7, k32);
                    Paint(s8);
                    PaintF(sf);
                    const auto mode = Mode(xfer);
                    ASSERT_EQ(host::TransformWorld(nullptr, q, flags, PF_Field_FRAME, s8.get(), &mode, nullptr, &id, 1,
                                                   src2dst, nullptr, d8.get()),
                              PF_Err_NONE);
                    ASSERT_EQ(host::TransformWorld(nullptr, q, flags, PF_Field_FRAME, sf.get(), &mode, nullptr, &id, 1,
                                                   src2dst, nullptr, df.get()),
                              PF_Err_NONE);
                    EXPECT_TRUE(d8.SamePixels(s8)) << "mode " << xfer << " quality " << q << " flags " << flags;
                    EXPECT_TRUE(df.SamePixels(sf)) << "mode " << xfer << " quality " << q << " flags " << flags;
                    EXPECT_TRUE(d8.PaddingIntact());
                    EXPECT_TRUE(df.PaddingIntact());
                }
            }
        }
    }
}

TEST_F(PixelOps, WholePixelTranslationMovesPixelsAndClearsWhatIsUncovered) {
    // Source → destination by (2, 1), or the same given destination → source.
    struct Case {
        PF_FloatMatrix m;
        PF_Boolean src2dst;
    };
    for (const Case& c : {Case{Translate(2, 1), 1}, Case{Translate(-2, -1), 0}}) {
        for (PF_Quality q : {PF_Quality_HI, PF_Quality_LO}) {
            World s(6, 5, k8), d(6, 5, k8, false);  // destination starts as garbage
            Paint(s);
            const auto mode = Mode(PF_Xfer_COPY);
            ASSERT_EQ(host::TransformWorld(nullptr, q, PF_MF_Alpha_PREMUL, 0, s.get(), &mode, nullptr, &c.m, 1,
                                           c.src2dst, nullptr, d.get()),
                      PF_Err_NONE);
            for (A_long y = 0; y < 5; ++y)
                for (A_long x = 0; x < 6; ++x)
                    EXPECT_TRUE(Is(d.P8(x, y), (x >= 2 && y >= 1) ? Pattern8(x - 2, y - 1) : PF_Pixel{0, 0, 0, 0}))
                        << x << "," << y << " quality " << q;
        }
    }
}

TEST_F(PixelOps, TransformUsesRowVectorsWithTranslationInTheLastRow) {
    // x' = 3 - y, y' = x: a quarter turn of a 3×3 image about its centre.
    // Transposing the matrix would turn it the other way.
    const PF_FloatMatrix rot = Matrix(0, 1, -1, 0, 3, 0);
    World s(3, 3, k8), d(3, 3, k8);
    Paint(s);
    const auto mode = Mode(PF_Xfer_COPY);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), &mode, nullptr, &rot, 1, 1, nullptr, d.get()),
              PF_Err_NONE);
    for (A_long j = 0; j < 3; ++j)
        for (A_long i = 0; i < 3; ++i) EXPECT_TRUE(Is(d.P8(2 - j, i), Pattern8(i, j))) << i << "," << j;

    // Scale by 2 with nearest sampling: each source pixel covers 2×2.
    const PF_FloatMatrix twice = Matrix(2, 0, 0, 2, 0, 0);
    World big(6, 6, k8);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_LO, 0, 0, s.get(), &mode, nullptr, &twice, 1, 1, nullptr,
                                   big.get()),
              PF_Err_NONE);
    for (A_long y = 0; y < 6; ++y)
        for (A_long x = 0; x < 6; ++x) EXPECT_TRUE(Is(big.P8(x, y), Pattern8(x / 2, y / 2))) << x << "," << y;
}

TEST_F(PixelOps, HalfPixelShiftAveragesNeighbours) {
    // One opaque row of greys, moved half a pixel right: each destination
    // pixel is the mean of two source pixels; the first one half covers.
    World s(4, 1, k8), d(4, 1, k8);
    const int g[] = {0, 100, 200, 50};
    for (A_long x = 0; x < 4; ++x) s.P8(x, 0) = {255, A_u_char(g[x]), A_u_char(g[x]), A_u_char(g[x])};
    const PF_FloatMatrix half = Translate(0.5, 0);
    const auto mode = Mode(PF_Xfer_COPY);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_PREMUL, 0, s.get(), &mode, nullptr, &half, 1, 1,
                                   nullptr, d.get()),
              PF_Err_NONE);
    EXPECT_TRUE(Is(d.P8(0, 0), {128, 0, 0, 0}));
    EXPECT_TRUE(Is(d.P8(1, 0), {255, 50, 50, 50}));
    EXPECT_TRUE(Is(d.P8(2, 0), {255, 150, 150, 150}));
    EXPECT_TRUE(Is(d.P8(3, 0), {255, 125, 125, 125}));

    // Float, vertically, by a quarter: weights 0.75 / 0.25.
    World sf(1, 2, k32), df(1, 2, k32);
    sf.PF(0, 0) = {1, 0.2f, 0.4f, 0.8f};
    sf.PF(0, 1) = {1, 0.6f, 0.0f, 0.4f};
    const PF_FloatMatrix quarter = Translate(0, 0.25);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_PREMUL, 0, sf.get(), &mode, nullptr, &quarter, 1,
                                   1, nullptr, df.get()),
              PF_Err_NONE);
    EXPECT_NEAR(df.PF(0, 1).red, 0.75 * 0.6 + 0.25 * 0.2, 1e-6);
    EXPECT_NEAR(df.PF(0, 1).blue, 0.75 * 0.4 + 0.25 * 0.8, 1e-6);
    EXPECT_NEAR(df.PF(0, 0).alpha, 0.75, 1e-6);
}

TEST_F(PixelOps, StraightAlphaEdgesKeepTheirColour) {
    // Opaque red beside a transparent pixel whose colour is blue: half-way,
    // straight pixels stay full red at half alpha (the invisible blue counts
    // for nothing); premultiplied ones are half red.
    World s(3, 1, k8), p(2, 1, k8), straight(3, 1, k8), premul(2, 1, k8);
    s.P8(0, 0) = {0, 0, 0, 255};
    s.P8(1, 0) = {255, 255, 0, 0};
    s.P8(2, 0) = {85, 0, 255, 0};  // a third-opaque green
    p.P8(0, 0) = {0, 0, 0, 0};
    p.P8(1, 0) = {255, 255, 0, 0};
    const PF_FloatMatrix half = Translate(-0.5, 0);
    const auto mode = Mode(PF_Xfer_COPY);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, 0, s.get(), &mode, nullptr, &half, 1, 1,
                                   nullptr, straight.get()),
              PF_Err_NONE);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_PREMUL, 0, p.get(), &mode, nullptr, &half, 1, 1,
                                   nullptr, premul.get()),
              PF_Err_NONE);
    EXPECT_TRUE(Is(straight.P8(0, 0), {128, 255, 0, 0}));
    // Red at alpha 1 and green at alpha 1/3, equally weighted: alpha 2/3,
    // colour in proportion to each one's alpha, 3/4 red (191.25) and 1/4 green.
    EXPECT_TRUE(Is(straight.P8(1, 0), {170, 191, 64, 0}));
    EXPECT_TRUE(Is(premul.P8(0, 0), {128, 128, 0, 0}));
}

TEST_F(PixelOps, TransformCompositesThroughTheTransferModes) {
    World s(3, 2, k8), d(3, 2, k8), ref(3, 2, k8);
    Paint(s);
    Paint(d);
    Paint(ref);
    for (A_long x = 0; x < 3; ++x) d.P8(x, 1) = ref.P8(x, 1) = {255, 90, 180, 30};
    const PF_FloatMatrix id = Translate(0, 0);
    PF_CompositeMode mode = Mode(PF_Xfer_SCREEN, 128);
    const PF_Rect only{0, 1, 3, 2};  // the second row only
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, 0, s.get(), &mode, nullptr, &id, 1, 1,
                                   &only, d.get()),
              PF_Err_NONE);
    for (A_long x = 0; x < 3; ++x) {
        EXPECT_TRUE(Is(d.P8(x, 0), ref.P8(x, 0))) << "outside dest_rect";
        EXPECT_TRUE(Is(d.P8(x, 1), host::Composite(s.P8(x, 1), ref.P8(x, 1), mode, x, 1)));
    }
}

TEST_F(PixelOps, TransformRejectsSingularMatricesAndMissingArguments) {
    World s(3, 3, k8), d(3, 3, k8);
    Paint(s);
    Paint(d);
    World before(3, 3, k8);
    Paint(before);
    const auto mode = Mode(PF_Xfer_COPY);
    const PF_FloatMatrix flat = Matrix(1, 0, 2, 0, 0, 0);  // rows parallel: the plane collapses to a line
    const PF_FloatMatrix zero = Matrix(0, 0, 0, 0, 1, 1);
    PF_FloatMatrix nan = Translate(0, 0);
    nan.mat[2][0] = std::nan("");
    for (const PF_FloatMatrix* m : std::vector<const PF_FloatMatrix*>{&flat, &zero, &nan}) {
        for (PF_Boolean src2dst : {PF_Boolean(0), PF_Boolean(1)}) {
            EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), &mode, nullptr, m, 1, src2dst, nullptr,
                                           d.get()),
                      PF_Err_BAD_CALLBACK_PARAM);
        }
    }
    const PF_FloatMatrix id = Translate(0, 0);
    EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), nullptr, nullptr, &id, 1, 1, nullptr, d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), &mode, nullptr, nullptr, 1, 1, nullptr,
                                   d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), &mode, nullptr, &id, 0, 1, nullptr, d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(d.SamePixels(before)) << "a refused call writes nothing";
}

// ---- transfer_rect -------------------------------------------------------------

TEST_F(PixelOps, TransferRectPlacesAndClipsTheSourceRect) {
    struct Case {
        bool wholeSource;
        PF_Rect sr;
        A_long dx, dy;
    };
    const Case cases[] = {
        {false, {1, 1, 4, 3}, 2, 3}, {false, {-2, -2, 3, 3}, -1, 0}, {true, {}, 3, -2}, {false, {2, 0, 6, 5}, 5, 4},
    };
    for (const Case& c : cases) {
        World s(6, 5, k8), d(7, 6, k8);
        Paint(s);
        const PF_Pixel bg{255, 1, 2, 3};
        host::Fill(nullptr, &bg, nullptr, d.get());
        const auto mode = Mode(PF_Xfer_COPY);
        const PF_Rect sr = c.wholeSource ? PF_Rect{0, 0, 6, 5} : c.sr;
        ASSERT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, c.wholeSource ? nullptr : &c.sr, s.get(), &mode,
                                     nullptr, c.dx, c.dy, d.get()),
                  PF_Err_NONE);
        for (A_long y = 0; y < d.H(); ++y) {
            for (A_long x = 0; x < d.W(); ++x) {
                A_long sx = x - c.dx + sr.left, sy = y - c.dy + sr.top;
                bool from = sx >= std::max(0, sr.left) && sx < std::min(6, sr.right) && sy >= std::max(0, sr.top) &&
                            sy < std::min(5, sr.bottom);
                EXPECT_TRUE(Is(d.P8(x, y), from ? Pattern8(sx, sy) : bg)) << x << "," << y;
            }
        }
        EXPECT_TRUE(d.PaddingIntact());
    }
    // Positions at the ends of the coordinate range place nothing and read nothing.
    World s(6, 5, k8), d(7, 6, k8), before(7, 6, k8);
    Paint(s);
    const auto mode = Mode(PF_Xfer_COPY);
    const PF_Rect wide{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    EXPECT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, nullptr, s.get(), &mode, nullptr, INT32_MAX, 0, d.get()),
              PF_Err_NONE);
    EXPECT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, &wide, s.get(), &mode, nullptr, INT32_MAX, INT32_MAX,
                                 d.get()),
              PF_Err_NONE);
    EXPECT_TRUE(d.SamePixels(before));
}

TEST_F(PixelOps, TransferRectBlendsAcrossDepthsAndInPlace) {
    // Float onto 8-bit through MULTIPLY: the blend of the converted pixels.
    World sf(2, 2, k32), d(2, 2, k8), ref(2, 2, k8);
    PaintF(sf);
    Paint(d);
    Paint(ref);
    const auto mode = Mode(PF_Xfer_MULTIPLY, 200);
    ASSERT_EQ(host::TransferRect(nullptr, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, 0, nullptr, sf.get(), &mode, nullptr, 0,
                                 0, d.get()),
              PF_Err_NONE);
    for (A_long y = 0; y < 2; ++y) {
        for (A_long x = 0; x < 2; ++x) {
            PF_PixelFloat got = host::Composite(sf.PF(x, y), PF_PixelFloat{ref.P8(x, y).alpha / 255.0f,
                                                                           ref.P8(x, y).red / 255.0f,
                                                                           ref.P8(x, y).green / 255.0f,
                                                                           ref.P8(x, y).blue / 255.0f},
                                                mode, x, y);
            auto c = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
            EXPECT_TRUE(Is(d.P8(x, y), {c(got.alpha), c(got.red), c(got.green), c(got.blue)}));
        }
    }

    // Onto itself, shifted: every pixel reads the original, not a neighbour just written.
    World w(5, 1, k8);
    for (A_long x = 0; x < 5; ++x) w.P8(x, 0) = {255, A_u_char(10 * x), 0, 0};
    const auto copy = Mode(PF_Xfer_COPY);
    ASSERT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, nullptr, w.get(), &copy, nullptr, 1, 0, w.get()),
              PF_Err_NONE);
    for (A_long x = 1; x < 5; ++x) EXPECT_EQ(w.P8(x, 0).red, 10 * (x - 1));

    PF_CompositeMode bad = Mode(PF_Xfer_NUM_MODES);
    EXPECT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, nullptr, w.get(), &bad, nullptr, 0, 0, d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, nullptr, w.get(), nullptr, nullptr, 0, 0, d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
}

// ---- iterate -------------------------------------------------------------------

struct Visits {
    A_long w, h;
    std::vector<std::atomic<int>> count;
    std::atomic<bool> inIsOut{true};
    std::atomic<bool> inIsSource{true};
    const PF_EffectWorld* src = nullptr;
    Visits(A_long w_, A_long h_) : w(w_), h(h_), count(size_t(w_ * h_)) {}
    void Visit(A_long x, A_long y) {
        if (x >= 0 && y >= 0 && x < w && y < h) count[size_t(y * w + x)]++;
    }
};

template <class P>
PF_Err Record(void* refcon, A_long x, A_long y, P* in, P* out) {
    auto* v = static_cast<Visits*>(refcon);
    v->Visit(x, y);
    if (v->src) {
        auto* row = reinterpret_cast<P*>(reinterpret_cast<char*>(v->src->data) + y * v->src->rowbytes);
        if (in != row + x) v->inIsSource = false;
    } else if (in != out) {
        v->inIsOut = false;
    }
    // out = in with the position stamped into red and green.
    *out = *in;
    if constexpr (std::is_same_v<P, PF_Pixel>) {
        out->red = A_u_char(x);
        out->green = A_u_char(y);
    } else {
        out->red = float(x);
        out->green = float(y);
    }
    return PF_Err_NONE;
}

TEST_F(PixelOps, IterateVisitsEachPixelOfTheAreaOnce) {
    for (bool deep : {false, true}) {
        for (bool withSource : {false, true}) {
            World d(9, 8, deep ? k32 : k8), s(7, 10, deep ? k32 : k8);
            deep ? PaintF(s, 50) : Paint(s, 50);
            deep ? PaintF(d) : Paint(d);
            Visits v(9, 8);
            v.src = withSource ? s.get() : nullptr;
            const PF_Rect area{-2, 1, 8, 20};
            PF_Err err = deep ? host::IterateFloat(nullptr, 0, 0, withSource ? s.get() : nullptr, &area, &v,
                                                   &Record<PF_PixelFloat>, d.get())
                              : host::Iterate8(nullptr, 0, 0, withSource ? s.get() : nullptr, &area, &v,
                                               &Record<PF_Pixel>, d.get());
            ASSERT_EQ(err, PF_Err_NONE);
            // Clipped to the destination and, with a source, to the source as well (7 wide).
            const A_long right = withSource ? 7 : 8;
            for (A_long y = 0; y < 8; ++y) {
                for (A_long x = 0; x < 9; ++x) {
                    const bool inArea = x < right && y >= 1;
                    const A_long from = inArea && withSource ? x + 50 : x;
                    EXPECT_EQ(v.count[size_t(y * 9 + x)].load(), inArea ? 1 : 0) << x << "," << y;
                    if (deep) {
                        PF_PixelFloat want = PatternF(from, y);
                        if (inArea) want.red = float(x), want.green = float(y);
                        EXPECT_TRUE(Eq(d.PF(x, y), want)) << x << "," << y;
                    } else {
                        PF_Pixel want = Pattern8(from, y);
                        if (inArea) want.red = A_u_char(x), want.green = A_u_char(y);
                        EXPECT_TRUE(Is(d.P8(x, y), want)) << x << "," << y;
                    }
                }
            }
            EXPECT_TRUE(v.inIsOut) << "without a source, in is the destination pixel itself";
            EXPECT_TRUE(v.inIsSource) << "with a source, in is its pixel at the same place";
            EXPECT_TRUE(d.PaddingIntact());
        }
    }
}

TEST_F(PixelOps, IterateRefusesTheWrongDepthAndMissingArguments) {
    World f(2, 2, k32), e(2, 2, k8), h(2, 2, k16);
    Visits v(2, 2);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_Pixel>, f.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, f.get(), nullptr, &v, &Record<PF_Pixel>, e.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_PixelFloat>, e.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_PixelFloat>, h.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &v, nullptr, e.get()), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_Pixel>, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    for (auto& c : v.count) EXPECT_EQ(c.load(), 0);
}

// A pure function of position and input, so any thread order gives the same bytes.
PF_Err Scramble(void*, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
    unsigned h = unsigned(x) * 2654435761u ^ unsigned(y) * 40503u ^ in->red;
    *out = {A_u_char(h), A_u_char(h >> 8), A_u_char(in->green + h), A_u_char(h >> 16)};
    return PF_Err_NONE;
}

TEST_F(PixelOps, ParallelWorkMatchesOneThread) {
    const A_long w = 257, h = 193;
    World s(w, h, k8), one(w, h, k8), many(w, h, k8), t1(w, h, k8), tn(w, h, k8);
    Paint(s);
    const PF_Rect area{3, 2, 250, 190};
    const PF_FloatMatrix m = Matrix(0.8, 0.3, -0.25, 0.9, 12.3, -4.7);
    const auto mode = Mode(PF_Xfer_OVERLAY, 180);
    Paint(t1);
    Paint(tn);

    host::SetIterateThreads(1);
    ASSERT_EQ(host::Iterate8(nullptr, 0, 0, s.get(), &area, nullptr, &Scramble, one.get()), PF_Err_NONE);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, 0, s.get(), &mode, nullptr, &m, 1, 1,
                                   nullptr, t1.get()),
              PF_Err_NONE);
    host::SetIterateThreads(0);
    ASSERT_EQ(host::Iterate8(nullptr, 0, 0, s.get(), &area, nullptr, &Scramble, many.get()), PF_Err_NONE);
    ASSERT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, 0, s.get(), &mode, nullptr, &m, 1, 1,
                                   nullptr, tn.get()),
              PF_Err_NONE);
    EXPECT_TRUE(many.SamePixels(one));
    EXPECT_TRUE(tn.SamePixels(t1));
}

struct RowLog {
    std::vector<std::atomic<int>> rows;
    explicit RowLog(A_long h) : rows(size_t(h)) {}
    long Touched() const {
        long n = 0;
        for (auto& r : rows) n += r.load() > 0;
        return n;
    }
};

PF_Err LogRow(void* refcon, A_long, A_long y, PF_PixelFloat*, PF_PixelFloat* out) {
    static_cast<RowLog*>(refcon)->rows[size_t(y)]++;
    out->alpha = 1;
    return PF_Err_NONE;
}

TEST_F(PixelOps, CancelStopsIterateWithTheInterruptError) {
    const A_long w = 8, h = 2000;
    World d(w, h, k32);

    // One thread: exactly the rows asked for, whole rows, then the interrupt.
    host::SetIterateThreads(1);
    RowLog one(h);
    host::SetIterateCancelAfterRows(10);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &one, &LogRow, d.get()), PF_Interrupt_CANCEL);
    EXPECT_EQ(PF_Interrupt_CANCEL, 517);
    EXPECT_EQ(one.Touched(), 10);
    for (auto& r : one.rows) EXPECT_TRUE(r.load() == 0 || r.load() == w);

    // The setting is spent: the next call runs to the end.
    RowLog after(h);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &after, &LogRow, d.get()), PF_Err_NONE);
    EXPECT_EQ(after.Touched(), h);

    // In parallel, about as many: at least the rows asked for, far from all.
    host::SetIterateThreads(0);
    RowLog many(h);
    host::SetIterateCancelAfterRows(10);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &many, &LogRow, d.get()), PF_Interrupt_CANCEL);
    EXPECT_GE(many.Touched(), 10);
    EXPECT_LT(many.Touched(), h / 2);
}

struct Fail {
    std::atomic<long> calls{0};
    A_long failRow;
};

PF_Err FailFrom(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel*) {
    auto* f = static_cast<Fail*>(refcon);
    f->calls++;
    if (y >= f->failRow) return y % 2 ? PF_Err_OUT_OF_MEMORY : PF_Err_INTERNAL_STRUCT_DAMAGED;
    return PF_Err_NONE;
}

TEST_F(PixelOps, CallbackErrorsStopTheWorkAndComeBack) {
    const A_long w = 16, h = 400;
    World d(w, h, k8);
    for (int threads : {1, 0}) {
        host::SetIterateThreads(threads);
        // Every pixel fails: one call per row at most, and one of the codes comes back.
        Fail all{.failRow = 0};
        PF_Err err = host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &all, &FailFrom, d.get());
        EXPECT_TRUE(err == PF_Err_OUT_OF_MEMORY || err == PF_Err_INTERNAL_STRUCT_DAMAGED) << err;
        EXPECT_LE(all.calls.load(), h);
        if (threads == 1) {
            EXPECT_EQ(all.calls.load(), 1);
        }
        // Only the last row fails: its error is the result.
        Fail last{.failRow = h - 1};
        EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &last, &FailFrom, d.get()), PF_Err_OUT_OF_MEMORY);
    }
}

struct Generic {
    std::vector<std::atomic<int>> seen;
    std::atomic<int> badThread{0};
    std::atomic<A_long> total{-5};
    int maxThreads;
    A_long failAt = -1;
    Generic(size_t n, int threads) : seen(n), maxThreads(threads) {}
};

PF_Err GenericFn(void* refcon, A_long thread, A_long i, A_long iterations) {
    auto* g = static_cast<Generic*>(refcon);
    if (thread < 0 || thread >= g->maxThreads) g->badThread++;
    g->total = iterations;
    if (size_t(i) < g->seen.size()) g->seen[size_t(i)]++;
    return i == g->failAt ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
}

TEST_F(PixelOps, IterateGenericRunsEveryIndexOnce) {
    const int threads = int(std::thread::hardware_concurrency() ? std::thread::hardware_concurrency() : 64);
    Generic g(1000, std::max(threads, 256));
    ASSERT_EQ(host::IterateGeneric(1000, &g, &GenericFn), PF_Err_NONE);
    for (auto& s : g.seen) EXPECT_EQ(s.load(), 1);
    EXPECT_EQ(g.total.load(), 1000);
    EXPECT_EQ(g.badThread.load(), 0);

    // Once per worker: one thread gives one call, on thread 0.
    host::SetIterateThreads(1);
    Generic once(8, 1);
    ASSERT_EQ(host::IterateGeneric(-1, &once, &GenericFn), PF_Err_NONE);
    EXPECT_EQ(once.total.load(), 1);
    EXPECT_EQ(once.seen[0].load(), 1);
    EXPECT_EQ(once.seen[1].load(), 0);
    EXPECT_EQ(once.badThread.load(), 0);

    Generic failing(100, 1);
    failing.failAt = 3;
    EXPECT_EQ(host::IterateGeneric(100, &failing, &GenericFn), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host::IterateGeneric(10, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::IterateGeneric(-2, &g, &GenericFn), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(PixelOps, CallbackTablesReachTheServices) {
    PF_UtilCallbacks utils{};
    host::FillPixelCallbacks(&utils);
    World w(2, 2, k8);
    const PF_Pixel c{255, 1, 2, 3};
    ASSERT_NE(utils.fill, nullptr);
    EXPECT_EQ(utils.fill(nullptr, &c, nullptr, w.get()), PF_Err_NONE);
    EXPECT_TRUE(Is(w.P8(1, 1), c));
    EXPECT_NE(utils.iterate_generic, nullptr);
    const PF_WorldTransformSuite1* t = host::WorldTransformSuite();
    EXPECT_TRUE(t->copy && t->transfer_rect && t->transform_world && t->composite_rect);
    EXPECT_TRUE(host::Iterate8Suite()->iterate && host::Iterate8Suite()->iterate_generic);
    EXPECT_NE(host::IterateFloatSuite()->iterate, nullptr);
}

}  // namespace
