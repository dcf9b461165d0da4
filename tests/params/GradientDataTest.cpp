#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "params/GradientData.h"

namespace {

const unsigned char kDefaultBytes[77] = {
    0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3f, 0, 0, 0x80, 0x3f, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xe0, 0x3f, 0, 0, 0x80, 0x3f, 0, 0, 0, 0, 0, 0, 0x80, 0x3f,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f, 0, 0, 0x80, 0x3f, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0x80, 0x3f, 0};

// Real handles from the host's table; every test must leave nothing alive, locked or held.
class GradientData : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        m_host = std::make_unique<host::Host>();
    }
    void TearDown() override {
        auto& t = host::HandleTable::Instance();
        auto& r = host::SuiteRegistry::Instance();
        t.ClearFaults(), r.ClearFaults();
        EXPECT_TRUE(r.Outstanding() == 0 && r.OverReleased() == 0) << r.Describe();
        EXPECT_EQ(t.LocksHeld(), 0);
        EXPECT_EQ(t.Misuses(), 0);
        EXPECT_EQ(t.Alive(), 0u) << "handles leaked";
    }

    const PF_HandleSuite1* HS() { return host::HandleTable::Instance().Suite(); }
    PF_Handle Make(const void* bytes, size_t n) {
        PF_Handle h = HS()->host_new_handle(n);
        std::memcpy(HS()->host_lock_handle(h), bytes, n);
        HS()->host_unlock_handle(h);
        return h;
    }
    std::vector<unsigned char> Bytes(PF_Handle h) {
        auto* p = static_cast<unsigned char*>(HS()->host_lock_handle(h));
        std::vector<unsigned char> v(p, p + HS()->host_get_handle_size(h));
        HS()->host_unlock_handle(h);
        return v;
    }
    PF_Handle Write(std::vector<ArbGradientPt> stops) {
        PF_Handle h = nullptr;
        EXPECT_EQ(Set_Arb_Gradient(HS(), &h, unsigned(stops.size()), stops.data()), PF_Err_NONE);
        return h;
    }
    void Free(PF_Handle h) { HS()->host_dispose_handle(h); }
    std::vector<ArbGradientPt> Read(PF_Handle h) {
        std::vector<ArbGradientPt> stops;
        EXPECT_EQ(CreateGradientStdVecFromArb(HS(), h, &stops), PF_Err_NONE);
        return stops;
    }
    std::vector<ArbGradientPt> Blend(double t, PF_Handle* left, PF_Handle* right) {
        PF_Handle out = nullptr;
        EXPECT_EQ(Arb_Gradient_Interpolate(HS(), t, left, right, &out), PF_Err_NONE);
        auto stops = Read(out);
        Free(out);
        return stops;
    }
    PF_Err Call(PF_ArbParamsExtra& x, PF_FunctionSelector which) {
        x.which_function = which;
        x.id = 67;
        return GradientArb_Handler(&m_host->In(), &x);
    }

    std::unique_ptr<host::Host> m_host;
};

ArbGradientPt Stop(double p, float r, float g, float b, float a = 1.0f) { return {p, {a, r, g, b}}; }

void ExpectColor(const PF_PixelFloat& c, float a, float r, float g, float b) {
    EXPECT_TRUE(c.alpha == a && c.red == r && c.green == g && c.blue == b)
        << c.alpha << " " << c.red << " " << c.green << " " << c.blue;
}

TEST_F(GradientData, SetLeavesTheSlotAloneWithoutStopsAndReportsHostFailures) {
    PF_Handle slot = nullptr;
    EXPECT_EQ(Set_Arb_Gradient(HS(), &slot, 0, defaultGrad.data()), PF_Err_NONE);
    EXPECT_EQ(Set_Arb_Gradient(HS(), &slot, 3, nullptr), PF_Err_NONE);
    host::HandleTable::Instance().FailAllocation(1);
    EXPECT_EQ(Set_Arb_Gradient(HS(), &slot, 3, defaultGrad.data()), PF_Err_OUT_OF_MEMORY);
    host::HandleTable::Instance().FailLock(1);
    EXPECT_EQ(Set_Arb_Gradient(HS(), &slot, 3, defaultGrad.data()), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(slot, nullptr);  // and TearDown sees the unlockable handle freed
}

TEST_F(GradientData, DefaultIs77BytesAndRoundTripsThroughTheHandler) {
    PF_Handle h = Write({defaultGrad.begin(), defaultGrad.end()});
    PF_ArbParamsExtra x{};
    A_u_long size = 0;
    x.u.flat_size_func_params = {nullptr, h, &size};
    EXPECT_EQ(Call(x, PF_Arbitrary_FLAT_SIZE_FUNC), PF_Err_NONE);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(Bytes(h), std::vector<unsigned char>(kDefaultBytes, kDefaultBytes + 77));
    unsigned char flat[77] = {};
    x.u.flatten_func_params = {nullptr, h, 77, flat};
    EXPECT_EQ(Call(x, PF_Arbitrary_FLATTEN_FUNC), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(flat, kDefaultBytes, 77), 0);

    PF_Handle back = nullptr;  // and back, a new handle reading as the default
    x.u.unflatten_func_params = {nullptr, 77, flat, &back};
    EXPECT_EQ(Call(x, PF_Arbitrary_UNFLATTEN_FUNC), PF_Err_NONE);
    ASSERT_NE(back, nullptr);
    EXPECT_NE(back, h);
    auto stops = Read(back);
    ASSERT_EQ(stops.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(std::memcmp(&stops[i], &defaultGrad[i], 24), 0) << i;

    PF_Handle reversed = Write({defaultGrad[2], defaultGrad[1], defaultGrad[0]});
    for (auto [other, want] : {std::pair{back, PF_ArbCompare_EQUAL}, {reversed, PF_ArbCompare_NOT_EQUAL}}) {
        PF_ArbCompareResult cmp = -1;
        x.u.compare_func_params = {nullptr, h, other, &cmp};
        EXPECT_EQ(Call(x, PF_Arbitrary_COMPARE_FUNC), PF_Err_NONE);
        EXPECT_EQ(cmp, want);
    }

    x.u.dispose_func_params = {nullptr, back};
    EXPECT_EQ(Call(x, PF_Arbitrary_DISPOSE_FUNC), PF_Err_NONE);
    EXPECT_FALSE(host::HandleTable::Instance().IsAlive(back));

    // Bad arguments.
    unsigned char wide[78];
    std::memset(wide, 0xAA, sizeof wide);
    x.u.flatten_func_params = {nullptr, h, 78, wide};
    EXPECT_EQ(Call(x, PF_Arbitrary_FLATTEN_FUNC), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(wide[0], 0xAA) << "nothing copied on a size mismatch";
    x.u.flatten_func_params = {nullptr, h, 77, nullptr};
    EXPECT_EQ(Call(x, PF_Arbitrary_FLATTEN_FUNC), PF_Err_INTERNAL_STRUCT_DAMAGED);
    x.u.flat_size_func_params = {nullptr, h, nullptr};
    EXPECT_EQ(Call(x, PF_Arbitrary_FLAT_SIZE_FUNC), PF_Err_INTERNAL_STRUCT_DAMAGED);
    PF_Handle out = nullptr;
    x.u.unflatten_func_params = {nullptr, 77, nullptr, &out};
    EXPECT_EQ(Call(x, PF_Arbitrary_UNFLATTEN_FUNC), PF_Err_INTERNAL_STRUCT_DAMAGED);
    host::HandleTable::Instance().FailLock(1);
    x.u.unflatten_func_params = {nullptr, 77, kDefaultBytes, &out};
    EXPECT_EQ(Call(x, PF_Arbitrary_UNFLATTEN_FUNC), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GradientArb_Handler(&m_host->In(), nullptr), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Arb_Handler(&m_host->In(), nullptr), PF_Err_INTERNAL_STRUCT_DAMAGED);
    Free(h), Free(reversed);
}

TEST_F(GradientData, NewAndCopyRequests) {
    PF_ArbParamsExtra x{};
    PF_Handle fresh = nullptr;
    x.u.new_func_params = {nullptr, &fresh};
    EXPECT_EQ(Call(x, PF_Arbitrary_NEW_FUNC), PF_Err_NONE);
    EXPECT_EQ(Bytes(fresh), std::vector<unsigned char>{0});
    EXPECT_TRUE(Read(fresh).empty());

    PF_Handle unused = nullptr;
    host::HandleTable::Instance().FailLock(1);
    x.u.new_func_params = {nullptr, &unused};
    EXPECT_EQ(Call(x, PF_Arbitrary_NEW_FUNC), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(unused, nullptr) << "an unlockable new handle is not handed out";

    // A copy replaces (and frees) what the destination held.
    PF_Handle src = Write({defaultGrad.begin(), defaultGrad.end()});
    PF_Handle dst = fresh;
    x.u.copy_func_params = {nullptr, src, &dst};
    EXPECT_EQ(Call(x, PF_Arbitrary_COPY_FUNC), PF_Err_NONE);
    EXPECT_FALSE(host::HandleTable::Instance().IsAlive(fresh));
    EXPECT_EQ(Bytes(dst), Bytes(src));

    // A failed copy leaves the destination valid and untouched.
    PF_Handle before = dst;
    host::HandleTable::Instance().FailLock(2);  // the new handle's lock
    EXPECT_EQ(Call(x, PF_Arbitrary_COPY_FUNC), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(dst, before);
    EXPECT_TRUE(host::HandleTable::Instance().IsAlive(dst));

    // Copying a handle onto itself must read it before it goes.
    PF_Handle self = src;
    x.u.copy_func_params = {nullptr, src, &self};
    EXPECT_EQ(Call(x, PF_Arbitrary_COPY_FUNC), PF_Err_NONE);
    EXPECT_EQ(Bytes(self), Bytes(dst));

    x.u.copy_func_params = {nullptr, self, nullptr};
    EXPECT_EQ(Call(x, PF_Arbitrary_COPY_FUNC), PF_Err_OUT_OF_MEMORY);
    Free(self), Free(dst);
}

TEST_F(GradientData, MissingHandleSuite) {
    auto& r = host::SuiteRegistry::Instance();
    PF_ArbParamsExtra x{};
    PF_Handle h = nullptr;
    x.u.new_func_params = {nullptr, &h};
    r.SetNull(kPFHandleSuite, kPFHandleSuiteVersion1);
    EXPECT_EQ(Call(x, PF_Arbitrary_NEW_FUNC), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(r.Outstanding(), 0) << "a null hand-out still goes back";
    r.ClearFaults();
    r.SetMissing(kPFHandleSuite, kPFHandleSuiteVersion1);
    EXPECT_EQ(Call(x, PF_Arbitrary_NEW_FUNC), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(h, nullptr);

    x.u.interp_func_params = {nullptr, nullptr, nullptr, 0.5, &h};
    A_long thrown = 0;
    try { Call(x, PF_Arbitrary_INTERP_FUNC); } catch (A_long e) { thrown = e; }
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM) << "the missing suite's error";
    m_host->In().pica_basicP = nullptr;
    EXPECT_THROW(Call(x, PF_Arbitrary_FLAT_SIZE_FUNC), A_long);
}

TEST_F(GradientData, ColourLookup) {
    // Stored out of order: lookups sort their own copy.
    const ArbGradientPt s[] = {Stop(1.0, 0, 0, 1), Stop(0.25, 1, 0, 0), Stop(0.75, 0, 1, 0)};
    for (bool interp : {false, true}) {
        for (auto [at, r, g, b] : {std::tuple{0.75, 0, 1, 0}, {1.5, 0, 0, 1}, {0.1, 1, 0, 0}})
            ExpectColor(Get_Gradient_Color_At_Position_Adv(3, s, at, interp), 1, r, g, b);
    }
    ExpectColor(Get_Gradient_Color_At_Position_Adv(3, s, 0.5, false), 1, 0, 1, 0);  // exactly halfway
    ExpectColor(Get_Gradient_Color_At_Position_Adv(3, s, 0.49, false), 1, 1, 0, 0);
    ExpectColor(Get_Gradient_Color_At_Position(3, s, 0.875), 1, 0, 0.5f, 0.5f);
    ExpectColor(Get_Gradient_Color_At_Position(0, s, 0.5), 0, 0, 0, 0);

    // Before a first stop at 0.0 the span is empty: still the first colour, not NaN.
    ExpectColor(Get_Gradient_Color_At_Position(3, defaultGrad.data(), -0.25), 1, 1, 0, 0);
    // NaN positions (a damaged project) must not upset the sort.
    std::vector<ArbGradientPt> odd(40, Stop(NAN, 0, 0, 0));
    for (size_t i = 0; i < odd.size(); i += 3) odd[i] = Stop(double(i) / 40, 1, 1, 1);
    ExpectColor(Get_Gradient_Color_At_Position(unsigned(odd.size()), odd.data(), 21.0 / 40), 1, 1, 1, 1);
    // Lookups take NaN as the start and an infinity as its end, in stops and asked positions alike.
    const ArbGradientPt damaged[] = {Stop(INFINITY, 0, 0, 1), Stop(NAN, 1, 0, 0), Stop(0.5, 0, 1, 0)};
    ExpectColor(Get_Gradient_Color_At_Position(3, damaged, 0.25), 1, 0.5f, 0.5f, 0);
    ExpectColor(Get_Gradient_Color_At_Position(3, damaged, 0.75), 1, 0, 0.5f, 0.5f);
    ExpectColor(Get_Gradient_Color_At_Position_Adv(3, damaged, NAN, false), 1, 1, 0, 0);
    ExpectColor(Get_Gradient_Color_At_Position(3, damaged, INFINITY), 1, 0, 0, 1);
    const ArbGradientPt fromMinusInfinity[] = {Stop(-INFINITY, 1, 0, 0), Stop(1.0, 0, 0, 1)};
    ExpectColor(Get_Gradient_Color_At_Position(2, fromMinusInfinity, 0.5), 1, 0.5f, 0, 0.5f);
    EXPECT_TRUE(GradientStopLess(Stop(NAN, 0, 0, 0), Stop(0.1, 0, 0, 0)));
    EXPECT_FALSE(GradientStopLess(Stop(NAN, 0, 0, 0), Stop(-INFINITY, 0, 0, 0)));
}

TEST_F(GradientData, KeyframeInterpolation) {
    PF_Handle two = Write({Stop(0.0, 1, 0, 0), Stop(1.0, 0, 0, 1)});
    PF_Handle three = Write({Stop(0.2, 0, 1, 0), Stop(0.4, 0, 0, 0), Stop(0.5, 1, 1, 1, 0.5f)});
    PF_Handle out = nullptr;
    PF_ArbParamsExtra x{};
    x.u.interp_func_params = {nullptr, two, three, 0.5, &out};
    ASSERT_EQ(Call(x, PF_Arbitrary_INTERP_FUNC), PF_Err_NONE);
    auto r = Read(out);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_DOUBLE_EQ(r[0].position, 0.1f);
    EXPECT_DOUBLE_EQ(r[1].position, 0.7f);
    // Third stop: right's position; left's colour there (halfway red-blue) meets right's.
    EXPECT_DOUBLE_EQ(r[2].position, 0.5f);
    ExpectColor(r[2].color, 0.75f, 0.75f, 0.5f, 0.75f);
    Free(out);

    // Stops pair by stored index, so the reversed default does not match the default.
    PF_Handle def = Write({defaultGrad.begin(), defaultGrad.end()});
    PF_Handle rev = Write({defaultGrad[2], defaultGrad[1], defaultGrad[0]});
    r = Blend(0.5, &def, &rev);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].position, 0.5);
    ExpectColor(r[0].color, 1, 0.5f, 0, 0.5f);

    PF_Handle n9 = Write(std::vector<ArbGradientPt>(9, Stop(0.5, 1, 1, 1))), none = nullptr;
    EXPECT_EQ(Blend(0.3, &n9, &n9).size(), 8u);
    EXPECT_TRUE(Blend(0.5, &none, &none).empty());
    PF_Handle blank = nullptr;
    ASSERT_EQ(Arb_Gradient_Interpolate(HS(), 0.5, &none, &none, &blank), PF_Err_NONE);
    EXPECT_EQ(Bytes(blank), std::vector<unsigned char>{0}) << "the new-value form";
    Free(blank);
    EXPECT_EQ(Arb_Gradient_Interpolate(HS(), 0.5, nullptr, &def, &out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(Arb_Gradient_Interpolate(HS(), 0.5, &def, nullptr, &out), PF_Err_BAD_CALLBACK_PARAM);
    for (PF_Handle h : {two, three, def, rev, n9}) Free(h);
}

TEST_F(GradientData, MalformedHandlesReadSafely) {
    unsigned char bytes[4 + 24 * 2 + 20] = {};  // a third stop cut four bytes short
    const ArbGradientPt a = Stop(0.25, 1, 0, 0);
    std::memcpy(bytes + 4, &a, 24);
    std::memcpy(bytes + 28, &a, 24);
    // Shorter than the count field; a count larger than the handle; counts not a multiple of 24.
    const struct { size_t size; uint32_t count; size_t stops; } cases[] = {
        {0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {sizeof bytes, 0xFFFFFFFFu, 2}, {sizeof bytes, 24 * 2 + 23, 2},
        {sizeof bytes, 24 * 3, 2}, {sizeof bytes, 23, 0}};
    for (const auto& c : cases) {
        std::memcpy(bytes, &c.count, 4);
        PF_Handle h = Make(bytes, c.size);
        auto stops = Read(h);
        EXPECT_EQ(stops.size(), c.stops) << c.size << " bytes, count " << c.count;
        if (stops.size() == 2) { EXPECT_EQ(stops[1].position, 0.25); }
        Free(h);
    }
    PF_Handle h = Make(bytes, sizeof bytes);
    // A refused lock is the read's error, not a gradient without stops; what the list held goes.
    std::vector<ArbGradientPt> stops(2);
    host::HandleTable::Instance().FailLock(1);
    EXPECT_EQ(CreateGradientStdVecFromArb(HS(), h, &stops), PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(stops.empty());
    stops.resize(2);
    EXPECT_EQ(CreateGradientStdVecFromArb(HS(), nullptr, &stops), PF_Err_NONE) << "no handle is no stops";
    EXPECT_TRUE(stops.empty());
    Free(h);
}

}  // namespace
