#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
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

template <class P>
bool Eq(const P& a, const P& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
template <class P>
std::string Str(const P& p) {
    std::ostringstream o;
    o << '(' << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ')';
    return o.str();
}
template <class P>
::testing::AssertionResult Is(const P& got, const P& want) {
    if (Eq(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << Str(got) << " want " << Str(want);
}

// Every 8-bit pixel of w against want(x, y), and the row padding untouched.
template <class Want>
void ExpectPixels(World& w, Want want, const std::string& what = "") {
    for (A_long y = 0; y < w.H(); ++y)
        for (A_long x = 0; x < w.W(); ++x)
            EXPECT_TRUE(Is(w.P8(x, y), PF_Pixel(want(x, y)))) << what << " at " << x << "," << y;
    EXPECT_TRUE(w.PaddingIntact()) << what;
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
template <class P>
P Pattern(A_long x, A_long y) {
    if constexpr (std::is_same_v<P, PF_Pixel>) return Pattern8(x, y);
    else return PatternF(x, y);
}
// shift: paint as if the pattern started that many pixels further right.
template <class P = PF_Pixel>
void Paint(World& w, A_long shift = 0) {
    for (A_long y = 0; y < w.H(); ++y)
        for (A_long x = 0; x < w.W(); ++x) w.At<P>(x, y) = Pattern<P>(x + shift, y);
}
void PaintF(World& w) { Paint<PF_PixelFloat>(w); }

PF_CompositeMode Mode(PF_TransferMode xfer, int opacity = 255) {
    PF_CompositeMode m{};
    m.xfer = xfer;
    m.opacity = A_u_char(opacity);
    return m;
}

PF_FloatMatrix Matrix(double a, double b, double c, double d, double tx, double ty) {
    PF_FloatMatrix m{};
    m.mat[0][0] = a, m.mat[0][1] = b, m.mat[1][0] = c, m.mat[1][1] = d;
    m.mat[2][0] = tx, m.mat[2][1] = ty, m.mat[2][2] = 1;
    return m;
}
PF_FloatMatrix Translate(double tx, double ty) { return Matrix(1, 0, 0, 1, tx, ty); }

PF_Err Transfer(World& s, World& d, A_long dx, A_long dy, PF_CompositeMode mode = Mode(PF_Xfer_COPY),
               const PF_Rect* sr = nullptr, PF_ModeFlags flags = 0) {
    return host::TransferRect(nullptr, PF_Quality_HI, flags, 0, sr, s.get(), &mode, nullptr, dx, dy, d.get());
}
PF_Err Transform(World& s, World& d, const PF_FloatMatrix& m, PF_Quality q = PF_Quality_HI, PF_ModeFlags flags = 0,
                 PF_CompositeMode mode = Mode(PF_Xfer_COPY), PF_Boolean src2dst = 1, const PF_Rect* rect = nullptr) {
    return host::TransformWorld(nullptr, q, flags, PF_Field_FRAME, s.get(), &mode, nullptr, &m, 1, src2dst, rect,
                                d.get());
}

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

TEST_F(PixelOps, FillClipsToTheWorldAndLeavesTheRestAlone) {
    World w(5, 4, k8);
    const PF_Pixel c{200, 10, 20, 30}, other{1, 2, 3, 4}, clear{0, 0, 0, 0};
    const PF_Rect r{-3, 2, 3, 99};  // hangs off the left and the bottom
    const PF_Rect outside{5, 0, 9, 4}, inverted{4, 3, 1, 1}, huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    ASSERT_EQ(host::Fill(nullptr, &c, &r, w.get()), PF_Err_NONE);
    // Entirely outside, or inside-out: nothing happens.
    EXPECT_EQ(host::Fill(nullptr, &other, &outside, w.get()), PF_Err_NONE);
    EXPECT_EQ(host::Fill(nullptr, &other, &inverted, w.get()), PF_Err_NONE);
    ExpectPixels(w, [&](A_long x, A_long y) { return x < 3 && y >= 2 ? c : clear; }, "clipped rect");
    ASSERT_EQ(host::Fill(nullptr, &other, &huge, w.get()), PF_Err_NONE);
    ExpectPixels(w, [&](A_long, A_long) { return other; }, "rect spanning every coordinate");
    ASSERT_EQ(host::Fill(nullptr, nullptr, nullptr, w.get()), PF_Err_NONE);
    ExpectPixels(w, [&](A_long, A_long) { return clear; }, "null colour and rect");
    EXPECT_EQ(host::Fill(nullptr, &c, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(PixelOps, FillDeepWorldsScalesTheEightBitColour) {
    World f(3, 2, k32, false), h(3, 2, k16, false);
    const PF_Pixel c{255, 128, 0, 51};
    ASSERT_EQ(host::Fill(nullptr, &c, nullptr, f.get()), PF_Err_NONE);
    ASSERT_EQ(host::Fill(nullptr, &c, nullptr, h.get()), PF_Err_NONE);
    const PF_Pixel16 want16{PF_MAX_CHAN16, A_u_short(std::lround(128 * 32768.0 / 255)), 0,
                            A_u_short(std::lround(51 * 32768.0 / 255))};
    for (A_long i = 0; i < 6; ++i) {
        EXPECT_TRUE(Is(f.PF(i % 3, i / 3), {1.0f, 128 / 255.0f, 0.0f, 51 / 255.0f})) << i;
        EXPECT_TRUE(Is(h.At<PF_Pixel16>(i % 3, i / 3), want16)) << i;
    }
    EXPECT_TRUE(f.PaddingIntact() && h.PaddingIntact());
}

// The source rect sr goes with its top-left to (dx, dy), through copy (onto a
// destination rect of its size) or transfer_rect. A destination pixel takes its
// source pixel exactly when that lies inside the source world and sr; the rest keep
// their contents. Within one world every pixel reads the source before any is written.
TEST_F(PixelOps, CopyAndTransferRectPlaceAndClipTheSourceRect) {
    struct Case {
        bool copy, sameWorld;
        PF_Rect sr;  // {0, 0, 6, 5}: the whole source, passed to transfer_rect as no rect
        A_long dx, dy;
    };
    const Case cases[] = {
        {true, false, {1, 1, 4, 3}, 5, 0},    // inside both
        {true, false, {-2, -1, 3, 3}, 4, 2},  // source off its top-left, destination off its bottom-right
        {true, false, {3, 2, 9, 9}, -4, -5},  // the other way round
        {true, false, {0, 0, 4, 4}, 20, 20},  // destination entirely outside
        {true, true, {0, 0, 4, 4}, 1, 1},     // within one world, down-right and up-left
        {true, true, {2, 2, 6, 5}, 1, 1},
        {false, false, {1, 1, 4, 3}, 2, 3},
        {false, false, {-2, -2, 3, 3}, -1, 0},
        {false, false, {0, 0, 6, 5}, 3, -2},
        {false, false, {2, 0, 6, 5}, 5, 4},
        {false, true, {0, 0, 6, 5}, 1, 0},
    };
    const PF_Pixel bg{255, 1, 2, 3};
    for (const Case& c : cases) {
        World s(6, 5, k8), other(8, 6, k8);
        World& d = c.sameWorld ? s : other;
        Paint(s);
        host::Fill(nullptr, &bg, nullptr, other.get());
        PF_Rect sr = c.sr, dr{c.dx, c.dy, c.dx + sr.right - sr.left, c.dy + sr.bottom - sr.top};
        const bool whole = sr.left == 0 && sr.top == 0 && sr.right == 6 && sr.bottom == 5;
        ASSERT_EQ(c.copy ? host::Copy(nullptr, s.get(), d.get(), &sr, &dr)
                         : Transfer(s, d, c.dx, c.dy, Mode(PF_Xfer_COPY), whole ? nullptr : &sr),
                  PF_Err_NONE);
        ExpectPixels(d, [&](A_long x, A_long y) {
            A_long sx = x - c.dx + sr.left, sy = y - c.dy + sr.top;
            bool from = sx >= std::max(0, sr.left) && sx < std::min(6, sr.right) && sy >= std::max(0, sr.top) &&
                        sy < std::min(5, sr.bottom);
            return from ? Pattern8(sx, sy) : c.sameWorld ? Pattern8(x, y) : bg;
        }, std::string(c.copy ? "copy" : "transfer_rect") + " of " + std::to_string(sr.left) + "," +
               std::to_string(sr.top) + " to " + std::to_string(c.dx) + "," + std::to_string(c.dy));
    }
    // transfer_rect positions at the ends of the coordinate range place nothing and read nothing.
    World s(6, 5, k8), d(7, 6, k8), before(7, 6, k8);
    Paint(s);
    const PF_Rect wide{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    EXPECT_EQ(Transfer(s, d, INT32_MAX, 0), PF_Err_NONE);
    EXPECT_EQ(Transfer(s, d, INT32_MAX, INT32_MAX, Mode(PF_Xfer_COPY), &wide), PF_Err_NONE);
    EXPECT_TRUE(d.SamePixels(before));
}

TEST_F(PixelOps, CopyConvertsDepthRoundingAndClamping) {
    World s8(4, 1, k8), df(4, 1, k32, false);
    s8.P8(0, 0) = {255, 0, 1, 254};
    s8.P8(3, 0) = {128, 77, 200, 3};
    ASSERT_EQ(host::Copy(nullptr, s8.get(), df.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(Is(df.PF(0, 0), {1.0f, 0.0f, 1 / 255.0f, 254 / 255.0f}));
    EXPECT_TRUE(Is(df.PF(3, 0), {128 / 255.0f, 77 / 255.0f, 200 / 255.0f, 3 / 255.0f}));

    World sf(2, 1, k32), d8(2, 1, k8, false);
    sf.PF(0, 0) = {1.5f, -0.2f, 0.5f, 0.498f};  // over and under range, halfway, just under
    sf.PF(1, 0) = {0.999f, 1 / 255.0f, 254.49f / 255, 254.51f / 255};
    ASSERT_EQ(host::Copy(nullptr, sf.get(), d8.get(), nullptr, nullptr), PF_Err_NONE);
    const PF_Pixel want[] = {{255, 0, 128, 127}, {255, 1, 254, 255}};
    ExpectPixels(d8, [&](A_long x, A_long) { return want[x]; });

    // There and back again is exact for every 8-bit value; same-depth copies
    // are bit for bit, out-of-range floats included.
    World all(256, 1, k8), mid(256, 1, k32), back(256, 1, k8), fs(7, 5, k32), fd(7, 5, k32, false);
    for (A_long x = 0; x < 256; ++x) all.P8(x, 0) = {A_u_char(x), A_u_char(255 - x), A_u_char(x), A_u_char(x ^ 0x55)};
    PaintF(fs);
    ASSERT_EQ(host::Copy(nullptr, all.get(), mid.get(), nullptr, nullptr), PF_Err_NONE);
    ASSERT_EQ(host::Copy(nullptr, mid.get(), back.get(), nullptr, nullptr), PF_Err_NONE);
    ASSERT_EQ(host::Copy(nullptr, fs.get(), fd.get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(back.SamePixels(all) && back.PaddingIntact());
    EXPECT_TRUE(fd.SamePixels(fs) && fd.PaddingIntact());
}

TEST_F(PixelOps, CopyResamplesBetweenDifferentSizesBilinearly) {
    // Up: two pixels onto four, along a row and down a column. Centres land at
    // 0.25, 0.75, 1.25, 1.75; the outer ones clamp to the source edge.
    World row(2, 1, k8), up(4, 1, k8), col(1, 2, k8), tall(1, 4, k8);
    row.P8(0, 0) = col.P8(0, 0) = {255, 0, 0, 0};
    row.P8(1, 0) = col.P8(0, 1) = {255, 255, 0, 0};
    ASSERT_EQ(host::Copy(nullptr, row.get(), up.get(), nullptr, nullptr), PF_Err_NONE);
    ASSERT_EQ(host::Copy(nullptr, col.get(), tall.get(), nullptr, nullptr), PF_Err_NONE);
    const int wantUp[] = {0, 64, 191, 255};
    ExpectPixels(up, [&](A_long x, A_long) { return PF_Pixel{255, A_u_char(wantUp[x]), 0, 0}; }, "row");
    ExpectPixels(tall, [&](A_long, A_long y) { return PF_Pixel{255, A_u_char(wantUp[y]), 0, 0}; }, "column");

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
    ExpectPixels(d, [&](A_long, A_long) { return c; });
}

TEST_F(PixelOps, CopyRejectsWorldsItCannotRead) {
    World a(2, 2, k8);
    PF_EffectWorld bogus = *a.get();
    bogus.rowbytes = 4;  // shorter than a row of two pixels
    EXPECT_EQ(host::Copy(nullptr, &bogus, a.get(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::Copy(nullptr, nullptr, a.get(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(PixelOps, IdentityTransformReproducesTheSourceBitForBit) {
    for (PF_TransferMode xfer : {PF_Xfer_COPY, PF_Xfer_IN_FRONT})
        for (PF_Quality q : {PF_Quality_HI, PF_Quality_LO})
            for (PF_ModeFlags flags : {PF_MF_Alpha_PREMUL, PF_MF_Alpha_STRAIGHT})
                for (PF_Boolean src2dst : {PF_Boolean(0), PF_Boolean(1)}) {
                    World s8(9, 7, k8), d8(9, 7, k8), sf(9, 7, k32), df(9, 7, k32);
                    Paint(s8);
                    PaintF(sf);
                    ASSERT_EQ(Transform(s8, d8, Translate(0, 0), q, flags, Mode(xfer), src2dst), PF_Err_NONE);
                    ASSERT_EQ(Transform(sf, df, Translate(0, 0), q, flags, Mode(xfer), src2dst), PF_Err_NONE);
                    const std::string what = "mode " + std::to_string(xfer) + " quality " + std::to_string(q) +
                                             " flags " + std::to_string(flags) + " src2dst " + std::to_string(src2dst);
                    EXPECT_TRUE(d8.SamePixels(s8) && d8.PaddingIntact()) << what;
                    EXPECT_TRUE(df.SamePixels(sf) && df.PaddingIntact()) << what;
                }
}

// Whole-pixel moves at either quality and in either direction; uncovered pixels clear.
TEST_F(PixelOps, TransformMovesWholePixelsWithRowVectors) {
    struct Case {
        const char* what;
        PF_FloatMatrix m;
        PF_Quality q;
        PF_Boolean src2dst;
        A_long sw, sh, dw, dh;
        PF_Pixel (*want)(A_long x, A_long y);
    };
    auto shifted = [](A_long x, A_long y) { return x >= 2 && y >= 1 ? Pattern8(x - 2, y - 1) : PF_Pixel{0, 0, 0, 0}; };
    const Case cases[] = {
        {"by (2, 1)", Translate(2, 1), PF_Quality_HI, 1, 6, 5, 6, 5, shifted},
        {"by (2, 1) nearest", Translate(2, 1), PF_Quality_LO, 1, 6, 5, 6, 5, shifted},
        {"by (2, 1) given dst to src", Translate(-2, -1), PF_Quality_HI, 0, 6, 5, 6, 5, shifted},
        {"by (2, 1) given dst to src, nearest", Translate(-2, -1), PF_Quality_LO, 0, 6, 5, 6, 5, shifted},
        // x' = 3 - y, y' = x: a quarter turn about the centre; the transpose would turn the other way.
        {"quarter turn", Matrix(0, 1, -1, 0, 3, 0), PF_Quality_HI, 1, 3, 3, 3, 3,
         [](A_long x, A_long y) { return Pattern8(y, 2 - x); }},
        {"scale 2 nearest", Matrix(2, 0, 0, 2, 0, 0), PF_Quality_LO, 1, 3, 3, 6, 6,
         [](A_long x, A_long y) { return Pattern8(x / 2, y / 2); }},
    };
    for (const Case& c : cases) {
        World s(c.sw, c.sh, k8), d(c.dw, c.dh, k8, false);  // the destination starts as garbage
        Paint(s);
        ASSERT_EQ(Transform(s, d, c.m, c.q, PF_MF_Alpha_PREMUL, Mode(PF_Xfer_COPY), c.src2dst), PF_Err_NONE) << c.what;
        ExpectPixels(d, c.want, c.what);
    }
}

TEST_F(PixelOps, HalfPixelShiftAveragesNeighbours) {
    // One opaque row of greys, moved half a pixel right: each destination
    // pixel is the mean of two source pixels; the first one half covers.
    World s(4, 1, k8), d(4, 1, k8);
    const int g[] = {0, 100, 200, 50};
    for (A_long x = 0; x < 4; ++x) s.P8(x, 0) = {255, A_u_char(g[x]), A_u_char(g[x]), A_u_char(g[x])};
    ASSERT_EQ(Transform(s, d, Translate(0.5, 0), PF_Quality_HI, PF_MF_Alpha_PREMUL), PF_Err_NONE);
    const PF_Pixel want[] = {{128, 0, 0, 0}, {255, 50, 50, 50}, {255, 150, 150, 150}, {255, 125, 125, 125}};
    ExpectPixels(d, [&](A_long x, A_long) { return want[x]; });

    // Float, vertically, by a quarter: weights 0.75 / 0.25.
    World sf(1, 2, k32), df(1, 2, k32);
    sf.PF(0, 0) = {1, 0.2f, 0.4f, 0.8f};
    sf.PF(0, 1) = {1, 0.6f, 0.0f, 0.4f};
    ASSERT_EQ(Transform(sf, df, Translate(0, 0.25), PF_Quality_HI, PF_MF_Alpha_PREMUL), PF_Err_NONE);
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
    s.P8(1, 0) = p.P8(1, 0) = {255, 255, 0, 0};
    s.P8(2, 0) = {85, 0, 255, 0};  // a third-opaque green
    ASSERT_EQ(Transform(s, straight, Translate(-0.5, 0), PF_Quality_HI, PF_MF_Alpha_STRAIGHT), PF_Err_NONE);
    ASSERT_EQ(Transform(p, premul, Translate(-0.5, 0), PF_Quality_HI, PF_MF_Alpha_PREMUL), PF_Err_NONE);
    EXPECT_TRUE(Is(straight.P8(0, 0), {128, 255, 0, 0}));
    // Red at alpha 1 and green at alpha 1/3, equally weighted: alpha 2/3,
    // colour in proportion to each one's alpha, 3/4 red (191.25) and 1/4 green.
    EXPECT_TRUE(Is(straight.P8(1, 0), {170, 191, 64, 0}));
    EXPECT_TRUE(Is(premul.P8(0, 0), {128, 128, 0, 0}));
}

TEST_F(PixelOps, TransformCompositesThroughTheTransferModes) {
    World s(3, 2, k8), d(3, 2, k8);
    Paint(s);
    Paint(d);
    for (A_long x = 0; x < 3; ++x) d.P8(x, 1) = {255, 90, 180, 30};
    const PF_CompositeMode mode = Mode(PF_Xfer_SCREEN, 128);
    const PF_Rect only{0, 1, 3, 2};  // the second row only
    ASSERT_EQ(Transform(s, d, Translate(0, 0), PF_Quality_HI, PF_MF_Alpha_STRAIGHT, mode, 1, &only), PF_Err_NONE);
    ExpectPixels(d, [&](A_long x, A_long y) {
        return y == 0 ? Pattern8(x, 0) : host::Composite(s.P8(x, 1), PF_Pixel{255, 90, 180, 30}, mode, x, 1);
    });
}

TEST_F(PixelOps, TransformRejectsSingularMatricesAndMissingArguments) {
    World s(3, 3, k8), d(3, 3, k8), before(3, 3, k8);
    Paint(s);
    Paint(d);
    Paint(before);
    PF_FloatMatrix nan = Translate(0, 0);
    nan.mat[2][0] = std::nan("");
    // Rows parallel (the plane collapses to a line), all zero, not a number.
    for (const PF_FloatMatrix& m : {Matrix(1, 0, 2, 0, 0, 0), Matrix(0, 0, 0, 0, 1, 1), nan})
        for (PF_Boolean src2dst : {PF_Boolean(0), PF_Boolean(1)})
            EXPECT_EQ(Transform(s, d, m, PF_Quality_HI, 0, Mode(PF_Xfer_COPY), src2dst), PF_Err_BAD_CALLBACK_PARAM);
    const PF_FloatMatrix id = Translate(0, 0);
    const auto mode = Mode(PF_Xfer_COPY);
    EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), nullptr, nullptr, &id, 1, 1, nullptr,
                                   d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), &mode, nullptr, nullptr, 1, 1, nullptr,
                                   d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::TransformWorld(nullptr, PF_Quality_HI, 0, 0, s.get(), &mode, nullptr, &id, 0, 1, nullptr, d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(d.SamePixels(before)) << "a refused call writes nothing";
}

TEST_F(PixelOps, TransferRectBlendsAcrossDepths) {
    // Float onto 8-bit through MULTIPLY: the blend of the converted pixels.
    World sf(2, 2, k32), d(2, 2, k8);
    PaintF(sf);
    Paint(d);
    const auto mode = Mode(PF_Xfer_MULTIPLY, 200);
    ASSERT_EQ(Transfer(sf, d, 0, 0, mode, nullptr, PF_MF_Alpha_STRAIGHT), PF_Err_NONE);
    ExpectPixels(d, [&](A_long x, A_long y) {
        const PF_Pixel b = Pattern8(x, y);
        const PF_PixelFloat bf{b.alpha / 255.0f, b.red / 255.0f, b.green / 255.0f, b.blue / 255.0f};
        const PF_PixelFloat got = host::Composite(sf.PF(x, y), bf, mode, x, y);
        auto c = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
        return PF_Pixel{c(got.alpha), c(got.red), c(got.green), c(got.blue)};
    });
    EXPECT_EQ(Transfer(sf, d, 0, 0, Mode(PF_Xfer_NUM_MODES)), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::TransferRect(nullptr, PF_Quality_HI, 0, 0, nullptr, sf.get(), nullptr, nullptr, 0, 0, d.get()),
              PF_Err_BAD_CALLBACK_PARAM);
}

struct Visits {
    A_long w, h;
    std::vector<std::atomic<int>> count;
    std::atomic<bool> inIsOut{true}, inIsSource{true};
    const PF_EffectWorld* src = nullptr;
    Visits(A_long w_, A_long h_) : w(w_), h(h_), count(size_t(w_ * h_)) {}
};

// out = in with the position stamped into red and green.
template <class P>
PF_Err Record(void* refcon, A_long x, A_long y, P* in, P* out) {
    auto* v = static_cast<Visits*>(refcon);
    if (x >= 0 && y >= 0 && x < v->w && y < v->h) v->count[size_t(y * v->w + x)]++;
    if (v->src) {
        auto* row = reinterpret_cast<P*>(reinterpret_cast<char*>(v->src->data) + y * v->src->rowbytes);
        if (in != row + x) v->inIsSource = false;
    } else if (in != out) {
        v->inIsOut = false;
    }
    *out = *in;
    out->red = decltype(out->red)(x);
    out->green = decltype(out->green)(y);
    return PF_Err_NONE;
}

template <class P>
void CheckIterateArea(bool withSource) {
    constexpr bool deep = !std::is_same_v<P, PF_Pixel>;
    World d(9, 8, deep ? k32 : k8), s(7, 10, deep ? k32 : k8);
    Paint<P>(s, 50);
    Paint<P>(d);
    Visits v(9, 8);
    v.src = withSource ? s.get() : nullptr;
    const PF_Rect area{-2, 1, 8, 20};
    PF_EffectWorld* src = withSource ? s.get() : nullptr;
    PF_Err err;
    if constexpr (deep) err = host::IterateFloat(nullptr, 0, 0, src, &area, &v, &Record<P>, d.get());
    else err = host::Iterate8(nullptr, 0, 0, src, &area, &v, &Record<P>, d.get());
    ASSERT_EQ(err, PF_Err_NONE);
    // Clipped to the destination and, with a source, to the source as well (7 wide).
    for (A_long y = 0; y < 8; ++y) {
        for (A_long x = 0; x < 9; ++x) {
            const bool inArea = x < (withSource ? 7 : 8) && y >= 1;
            P want = Pattern<P>(inArea && withSource ? x + 50 : x, y);
            if (inArea) want.red = decltype(want.red)(x), want.green = decltype(want.green)(y);
            const std::string at = std::to_string(x) + "," + std::to_string(y) + (deep ? " deep" : "") +
                                   (withSource ? " with source" : "");
            EXPECT_EQ(v.count[size_t(y * 9 + x)].load(), inArea ? 1 : 0) << at;
            EXPECT_TRUE(Is(d.At<P>(x, y), want)) << at;
        }
    }
    EXPECT_TRUE(v.inIsOut) << "without a source, in is the destination pixel itself";
    EXPECT_TRUE(v.inIsSource) << "with a source, in is its pixel at the same place";
    EXPECT_TRUE(d.PaddingIntact());
}

TEST_F(PixelOps, IterateVisitsEachPixelOfTheAreaOnce) {
    for (bool withSource : {false, true}) {
        CheckIterateArea<PF_Pixel>(withSource);
        CheckIterateArea<PF_PixelFloat>(withSource);
    }
}

TEST_F(PixelOps, IterateRefusesTheWrongDepthAndMissingArguments) {
    World f(2, 2, k32), e(2, 2, k8), h(2, 2, k16);
    Visits v(2, 2);
    const auto bad = PF_Err_BAD_CALLBACK_PARAM;
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_Pixel>, f.get()), bad);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, f.get(), nullptr, &v, &Record<PF_Pixel>, e.get()), bad);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_PixelFloat>, e.get()), bad);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_PixelFloat>, h.get()), bad);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &v, nullptr, e.get()), bad);
    EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &v, &Record<PF_Pixel>, nullptr), bad);
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
    Paint(t1);
    Paint(tn);
    const PF_Rect area{3, 2, 250, 190};
    const PF_FloatMatrix m = Matrix(0.8, 0.3, -0.25, 0.9, 12.3, -4.7);
    const auto mode = Mode(PF_Xfer_OVERLAY, 180);
    host::SetIterateThreads(1);
    ASSERT_EQ(host::Iterate8(nullptr, 0, 0, s.get(), &area, nullptr, &Scramble, one.get()), PF_Err_NONE);
    ASSERT_EQ(Transform(s, t1, m, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, mode), PF_Err_NONE);
    host::SetIterateThreads(0);
    ASSERT_EQ(host::Iterate8(nullptr, 0, 0, s.get(), &area, nullptr, &Scramble, many.get()), PF_Err_NONE);
    ASSERT_EQ(Transform(s, tn, m, PF_Quality_HI, PF_MF_Alpha_STRAIGHT, mode), PF_Err_NONE);
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
    EXPECT_EQ(PF_Interrupt_CANCEL, 517);
    // One thread: exactly the rows asked for, whole rows, then the interrupt.
    host::SetIterateThreads(1);
    RowLog one(h), after(h), many(h);
    host::SetIterateCancelAfterRows(10);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &one, &LogRow, d.get()), PF_Interrupt_CANCEL);
    EXPECT_EQ(one.Touched(), 10);
    for (auto& r : one.rows) EXPECT_TRUE(r.load() == 0 || r.load() == w) << r.load();
    // The setting is spent: the next call runs to the end.
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &after, &LogRow, d.get()), PF_Err_NONE);
    EXPECT_EQ(after.Touched(), h);
    // In parallel, about as many: at least the rows asked for, far from all.
    host::SetIterateThreads(0);
    host::SetIterateCancelAfterRows(10);
    EXPECT_EQ(host::IterateFloat(nullptr, 0, 0, nullptr, nullptr, &many, &LogRow, d.get()), PF_Interrupt_CANCEL);
    EXPECT_GE(many.Touched(), 10);
    EXPECT_LT(many.Touched(), h / 2);
}

struct Fail {
    std::atomic<long> calls{0};
    A_long failRow;
};

PF_Err FailFrom(void* refcon, A_long, A_long y, PF_Pixel*, PF_Pixel*) {
    auto* f = static_cast<Fail*>(refcon);
    f->calls++;
    if (y >= f->failRow) return y % 2 ? PF_Err_OUT_OF_MEMORY : PF_Err_INTERNAL_STRUCT_DAMAGED;
    return PF_Err_NONE;
}

TEST_F(PixelOps, CallbackErrorsStopTheWorkAndComeBack) {
    const A_long h = 400;
    World d(16, h, k8);
    for (int threads : {1, 0}) {
        host::SetIterateThreads(threads);
        // Every pixel fails: one call per row at most (one in all on one thread), and one of the codes comes back.
        Fail all{.failRow = 0};
        PF_Err err = host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &all, &FailFrom, d.get());
        EXPECT_TRUE(err == PF_Err_OUT_OF_MEMORY || err == PF_Err_INTERNAL_STRUCT_DAMAGED) << err;
        EXPECT_TRUE(threads == 1 ? all.calls == 1 : all.calls <= h) << all.calls << " calls, threads " << threads;
        // Only the last row fails: its error is the result.
        Fail last{.failRow = h - 1};
        EXPECT_EQ(host::Iterate8(nullptr, 0, 0, nullptr, nullptr, &last, &FailFrom, d.get()), PF_Err_OUT_OF_MEMORY);
    }
}

struct Generic {
    std::vector<std::atomic<int>> seen;
    int maxThreads;
    A_long failAt = -1;
    std::atomic<int> badThread{0};
    std::atomic<A_long> total{-5};
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
    Generic g{std::vector<std::atomic<int>>(1000), std::max(threads, 256)};
    ASSERT_EQ(host::IterateGeneric(1000, &g, &GenericFn), PF_Err_NONE);
    for (auto& s : g.seen) EXPECT_EQ(s.load(), 1);
    EXPECT_EQ(g.total.load(), 1000);
    EXPECT_EQ(g.badThread.load(), 0);

    // Once per worker: one thread gives one call, on thread 0.
    host::SetIterateThreads(1);
    Generic once{std::vector<std::atomic<int>>(2), 1}, failing{std::vector<std::atomic<int>>(100), 1, 3};
    ASSERT_EQ(host::IterateGeneric(-1, &once, &GenericFn), PF_Err_NONE);
    EXPECT_TRUE(once.total == 1 && once.seen[0] == 1 && once.seen[1] == 0 && once.badThread == 0);
    EXPECT_EQ(host::IterateGeneric(100, &failing, &GenericFn), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host::IterateGeneric(10, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host::IterateGeneric(-2, &g, &GenericFn), PF_Err_BAD_CALLBACK_PARAM);
}

}  // namespace
