// The render record built against the in-process host: every parameter
// declared with its default, then changed through the host's values.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"
#include "params/UF3_ParamIndex.h"
#include "params/UF3_ParamTable.h"
#include "params/UF3_Params.h"

namespace fs = std::filesystem;

namespace {

class RenderRecord : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::WorldTable::Instance().Reset();
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        std::string pattern = (fs::temp_directory_path() / "uf3_record_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_home = pattern;
        if (const char* old = getenv("HOME")) m_oldHome = old;
        setenv("HOME", m_home.c_str(), 1);
        m_host = std::make_unique<host::Host>();
        ASSERT_EQ(ParamsSetup(&H().In(), &H().Out(), nullptr, nullptr), PF_Err_NONE);
        m_input = H().NewWorld(40, 30, PF_PixelFormat_ARGB32);
        m_output = H().NewWorld(64, 48, PF_PixelFormat_ARGB32);
    }

    void TearDown() override {
        auto& suites = host::SuiteRegistry::Instance();
        suites.ClearFaults();
        EXPECT_EQ(suites.Outstanding(), 0) << suites.Describe();
        EXPECT_EQ(H().CheckoutsOutstanding(), 0);
        EXPECT_EQ(host::ColorProfilesAlive(), 0);
        H().DisposeWorld(m_input), H().DisposeWorld(m_output);
        m_host.reset();
        EXPECT_EQ(host::HandleTable::Instance().Alive(), 0u);
        m_oldHome.empty() ? unsetenv("HOME") : setenv("HOME", m_oldHome.c_str(), 1);
        std::error_code ec;
        fs::remove_all(m_home, ec);
    }

    host::Host& H() { return *m_host; }
    void Float(int i, double v) { H().Param(i).u.fs_d.value = v; }
    void Popup(int i, int v) { H().Param(i).u.pd.value = v; }
    void Check(int i, bool on) { H().Param(i).u.bd.value = on; }
    void Degrees(int i, double d) { H().Param(i).u.ad.value = PF_Fixed(d * 65536); }

    void Gradient(std::vector<ArbGradientPt> stops) {
        const PF_HandleSuite1* hs = host::HandleTable::Instance().Suite();
        PF_Handle& value = H().Param(UF3_COLOR_GRADIENT).u.arb_d.value;
        hs->host_dispose_handle(value);
        value = nullptr;
        ASSERT_EQ(Set_Arb_Gradient(hs, &value, unsigned(stops.size()), stops.data()), PF_Err_NONE);
    }

    PF_Err Render(myParams& p) {
        p.input_worldP = &m_input;
        p.output_worldP = &m_output;
        return InitParams(p, &H().In(), &H().Out(), nullptr, 0);
    }

    std::string Log() {
        std::stringstream s;
        s << std::ifstream(m_home / "Library/Logs/Nimbral/umbrafex_3_error_log.txt").rdbuf();
        return s.str();
    }

    std::unique_ptr<host::Host> m_host;
    PF_EffectWorld m_input{}, m_output{};
    fs::path m_home;
    std::string m_oldHome;
};

ArbGradientPt Stop(double position, float red, float green = 0, float blue = 0) {
    return {position, {1.0f, red, green, blue}};
}

TEST_F(RenderRecord, PreRenderReadsNoGradientAndNoWorld) {
    Popup(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    myParams p{};
    ASSERT_EQ(InitParams(p, &H().In(), &H().Out(), nullptr, 1), PF_Err_NONE);
    const std::vector<int>& log = H().CheckoutLog();
    EXPECT_EQ(log.size(), 122u);
    EXPECT_EQ(std::count(log.begin(), log.end(), UF3_COLOR_GRADIENT), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), UF3_TEXTURE_LAYER), 0);
    EXPECT_TRUE(p.gradient.empty());
    EXPECT_TRUE(p.shadowColors.empty());
    EXPECT_EQ(p.pixelFormat, 0);
}

TEST_F(RenderRecord, RaytracedGradientIsSortedAndLinearOnlyInAGammaSpace) {
    Popup(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    Gradient({Stop(1.0, 0, 0, 1), Stop(0.0, 0.5), Stop(0.5, 0, 1)});
    for (float gamma : {1.0f, 1.6f, 2.2f}) {  // 1.6 itself is not below the line
        H().SetWorkingSpaceGamma(gamma);
        myParams p{};
        ASSERT_EQ(Render(p), PF_Err_NONE);
        EXPECT_EQ(p.pixelFormat, PF_PixelFormat_ARGB32);
        ASSERT_EQ(p.shadowColors.size(), 3u);
        EXPECT_EQ(p.gradient[1].position, 0.5);
        EXPECT_EQ(p.linearBlending, gamma >= 1.6f);
        EXPECT_FLOAT_EQ(p.shadowColors[0][0], gamma >= 1.6f ? std::pow(0.5f, 2.2f) : 0.5f);
        EXPECT_FLOAT_EQ(p.shadowColors[1][1], 1.0f);
        EXPECT_FLOAT_EQ(p.shadowColors[2][2], 1.0f);
    }
    // Damaged positions: the record's copy holds them as lookups take them, sorted so.
    Gradient({Stop(INFINITY, 0, 0, 1), Stop(0.5, 0, 1), Stop(NAN, 0.5)});
    myParams damaged{};
    ASSERT_EQ(Render(damaged), PF_Err_NONE);
    ASSERT_EQ(damaged.gradient.size(), 3u);
    const double positions[] = {damaged.gradient[0].position, damaged.gradient[1].position, damaged.gradient[2].position};
    EXPECT_TRUE(positions[0] == 0 && positions[1] == 0.5 && positions[2] == 1) << positions[0] << " " << positions[2];
    EXPECT_FLOAT_EQ(damaged.shadowColors[0][0], std::pow(0.5f, 2.2f)) << "colours follow their stops";
    EXPECT_FLOAT_EQ(damaged.shadowColors[2][2], 1.0f);

    // A failed gamma read counts as a linear space; only a cancel lets the record go on.
    static A_Err gammaErr;
    PF_ColorSettingsSuite3 failing = *host::ColorSettingsSuite();
    failing.AEGP_GetColorProfileApproximateGamma = [](AEGP_ColorProfileP, A_FpShort* gamma) {
        *gamma = 2.2f;  // what a failed call leaves means nothing
        return gammaErr;
    };
    host::SuiteRegistry::Instance().Register(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3, &failing);
    for (const auto& [raised, want] : {std::pair<A_Err, PF_Err>{PF_Interrupt_CANCEL, PF_Interrupt_CANCEL},
                                      std::pair<A_Err, PF_Err>{A_Err_GENERIC, PF_Err_INTERNAL_STRUCT_DAMAGED}}) {
        gammaErr = raised;
        myParams failed{};
        EXPECT_EQ(Render(failed), want);
        EXPECT_FALSE(failed.linearBlending);
        EXPECT_EQ(host::ColorProfilesAlive(), 0);
    }
    host::SuiteRegistry::Instance().Register(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3,
                                             host::ColorSettingsSuite());
}

TEST_F(RenderRecord, StandardCopiesSampleTheGradientEvenlyFromTheCycle) {
    Popup(UF3_RENDERER, UF3_RENDERER_STANDARD);
    Popup(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    Float(UF3_SAMPLES, 4);
    Float(UF3_EASE_GRADIENT_ADV, 0);
    Check(UF3_LINEAR_BLENDING, false);
    Gradient({Stop(0.0, 0.0), Stop(1.0, 1.0)});
    const double plain[] = {0, 1 / 3.001, 2 / 3.001, 3 / 3.001};
    const double quarterTurn[] = {0.75, 1 / 3.001 - 0.25, 2 / 3.001 - 0.25, 3 / 3.001 - 0.25};
    for (double cycle : {0.0, 90.0}) {
        Degrees(UF3_CYCLE_GRADIENT, cycle);
        myParams p{};
        ASSERT_EQ(Render(p), PF_Err_NONE);
        ASSERT_EQ(p.samples.size(), 4u);
        for (int s = 0; s < 4; ++s)
            EXPECT_NEAR(p.samples[s].color.red, cycle == 0 ? plain[s] : quarterTurn[s], 1e-6) << cycle << " " << s;
    }
    // Eased halfway towards 1 - 2^(-10 d), which is 0 at the start.
    Degrees(UF3_CYCLE_GRADIENT, 0);
    Float(UF3_EASING_MASTER, 100);
    Float(UF3_EASE_GRADIENT_ADV, 50);
    myParams eased{};
    ASSERT_EQ(Render(eased), PF_Err_NONE);
    ASSERT_EQ(eased.samples.size(), 4u);
    for (int s = 0; s < 4; ++s) {
        const float d = float(plain[s]), e = 1 - std::exp2(-10 * d);
        EXPECT_NEAR(eased.samples[s].color.red, d - (d - e) * 0.5f, 1e-6) << s;
    }
}

TEST_F(RenderRecord, NegativeShadowLengthFlipsTheShadow) {
    const struct {
        int renderer, lightType;
        bool inverseParam;
        double length;
        bool inverse;
        double direction;
    } cases[] = {
        {UF3_RENDERER_RAYTRACED, UF3_LIGHT_DIRECTIONAL, false, -50, true, -45},
        {UF3_RENDERER_RAYTRACED, UF3_LIGHT_DIRECTIONAL, true, -50, false, 135},
        {UF3_RENDERER_RAYTRACED, UF3_LIGHT_DIRECTIONAL, true, 50, true, -45},
        {UF3_RENDERER_STANDARD, UF3_LIGHT_DIRECTIONAL, false, 50, false, 135},
        {UF3_RENDERER_RAYTRACED, UF3_LIGHT_POINT, false, -50, true, -45},
        {UF3_RENDERER_STANDARD, UF3_LIGHT_POINT, true, -50, false, 135},
    };
    for (const auto& c : cases) {
        Popup(UF3_RENDERER, c.renderer);
        Popup(UF3_LIGHT_TYPE, c.lightType);
        Check(UF3_INVERSE_SHADOW, c.inverseParam);
        Float(UF3_SHADOW_LENGTH, c.length);
        myParams p{};
        ASSERT_EQ(Render(p), PF_Err_NONE);
        EXPECT_EQ(p.inverseShadow, c.inverse) << c.length;
        EXPECT_DOUBLE_EQ(p.lightDirection, c.direction) << c.length;
        EXPECT_DOUBLE_EQ(p.lightDirectionRad, c.direction * 0.0174533);
        // The Standard point table turns the length into the last copy's scale.
        const bool standardPoint = c.renderer == UF3_RENDERER_STANDARD && c.lightType == UF3_LIGHT_POINT;
        EXPECT_DOUBLE_EQ(p.shadowLength, standardPoint ? 1 + 50.0 / 800 : 50.0);
    }
}

TEST_F(RenderRecord, FailedCheckoutStopsLaterOnesIsLoggedAndKeepsWhatWasRead) {
    Popup(UF3_RENDERER, UF3_RENDERER_STANDARD);
    Popup(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    Float(UF3_SHADOW_LENGTH, -50);
    H().FailCheckoutAt(UF3_INNER_BLEND_MODE);
    myParams p{};
    EXPECT_EQ(Render(p), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(H().CheckoutLog().size(), 30u);
    EXPECT_EQ(H().CheckoutLog().back(), 30);
    EXPECT_EQ(p.lightType, UF3_LIGHT_POINT);
    EXPECT_EQ(p.shadowLength, 0.0);  // clamped, and no table overwrote it
    EXPECT_TRUE(p.samples.empty());
    const std::string log = Log(), text = "smart_renderInitParams() PF_CHECKOUT_PARAM";
    EXPECT_EQ(log.find(text + "29"), std::string::npos);
    for (int i = 30; i <= 124; ++i)
        EXPECT_NE(log.find(text + std::to_string(i) + "PF_Err_OUT_OF_MEMORY"), std::string::npos) << i;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 95);
}

// A gradient that cannot be locked fails only a frame coloured with it: a solid fill renders
// without it, unlogged. The host's refused check-out of it fails both.
TEST_F(RenderRecord, UnreadableGradientFailsOnlyAGradientFill) {
    auto& handles = host::HandleTable::Instance();
    Gradient({Stop(0.0, 1.0), Stop(1.0, 0, 0, 1)});
    // The gradient's read is the last lock before the next parameter's check-out.
    H().FailCheckoutAt(UF3_GRADIENT_PT_SELECT);
    long read = handles.LockCalls();
    {
        myParams p{};
        ASSERT_EQ(Render(p), PF_Err_OUT_OF_MEMORY);
    }
    read = handles.LockCalls() - read;
    H().FailCheckoutAt(-1);
    ASSERT_GT(read, 0);
    const std::string text = "smart_renderInitParams() PF_CHECKOUT_PARAM41PF_Err_OUT_OF_MEMORY";
    for (const int fill : {UF3_FILL_SOLID, UF3_FILL_GRADIENT}) {
        SCOPED_TRACE(fill);
        Popup(UF3_FILL_MODE, fill);
        const size_t logged = Log().size();
        {
            myParams p{};
            handles.FailLock(read);
            const PF_Err err = Render(p);
            handles.ClearFaults();
            EXPECT_EQ(err, fill == UF3_FILL_GRADIENT ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE);
            EXPECT_EQ(Log().find(text, logged) != std::string::npos, fill == UF3_FILL_GRADIENT) << Log().substr(logged);
            EXPECT_TRUE(p.gradient.empty());
            EXPECT_EQ(H().CheckoutsOutstanding(), 0);
        }
        {
            myParams p{};
            H().FailCheckoutAt(UF3_COLOR_GRADIENT);
            EXPECT_EQ(Render(p), PF_Err_OUT_OF_MEMORY);
            H().FailCheckoutAt(-1);
        }
        myParams p{};
        ASSERT_EQ(Render(p), PF_Err_NONE);
        EXPECT_EQ(p.gradient.size(), 2u) << "the read position was another lock";
    }
    EXPECT_EQ(handles.LocksHeld(), 0);
}

TEST_F(RenderRecord, UnreadablePixelFormatIsLoggedAndReturned) {
    myParams p{};
    PF_EffectWorld foreign{};  // not one of the host's worlds
    p.input_worldP = &m_input, p.output_worldP = &foreign;
    EXPECT_EQ(InitParams(p, &H().In(), &H().Out(), nullptr, 0), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(H().CheckoutLog().empty());
    for (const std::string& line : {std::string("PF_GetPixelFormatPF_Err_BAD_CALLBACK_PARAM"),
                                   "PF_GetPixelFormat returned format of " + std::to_string(PF_PixelFormat_INVALID)})
        EXPECT_NE(Log().find(line), std::string::npos) << line;
}

// The handle suite is needed while the gradient is checked out; the colour
// suite after every check-in. Neither may leave a parameter checked out.
TEST_F(RenderRecord, MissingSuiteThrowsWithEverythingCheckedIn) {
    const std::pair<const char*, int> suites[] = {{kPFHandleSuite, kPFHandleSuiteVersion1},
                                                  {kPFColorParamSuite, kPFColorParamSuiteVersion1}};
    for (const auto& [suite, version] : suites) {
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().SetMissing(suite, version);
        myParams p{};
        EXPECT_THROW(Render(p), A_long) << suite;
        EXPECT_EQ(H().CheckoutsOutstanding(), 0) << suite;
    }
}

TEST_F(RenderRecord, WholePixelCountsRoundUp) {
    Float(UF3_BUFFER_EXPANSION, 3);
    Float(UF3_LIGHT_RADIUS_RT, 5);
    Float(UF3_SOURCE_OPACITY, 50);
    Popup(UF3_SOURCE_BLEND_MODE, 5);
    myParams full{}, quarter{};
    Render(full);
    EXPECT_EQ(full.bufferMargin, 2);
    EXPECT_TRUE(full.sourceOpacity8 == 128 && full.sourceComp.opacity == 128) << int(full.sourceOpacity8);
    EXPECT_EQ(full.sourceComp.xfer, PF_Xfer_MULTIPLY);
    EXPECT_EQ(full.lightRadiusSD, 10.0f) << "twice Light Radius, scaled by the downsampling";
    H().In().downsample_x = {1, 4};
    Render(quarter);
    EXPECT_EQ(quarter.bufferMargin, 1);  // ceil(0.375)
    EXPECT_EQ(quarter.lightRadiusSD, 2.5f);

    // Each easing is scaled by the master and capped at 1 there: a value past the top of the
    // master or of an easing (a saved project, an expression) keeps counting up to the cap; one
    // below 0 is held at 0, infinity as the largest value, NaN as the default.
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Easing { double master, distance, softness, opacity, gradient, want[4]; };
    const Easing easings[] = {
        {50, 40, 300, 60, 10, {0.2, 1, 0.3, 0.05}},
        {150, 40, 80, -20, 300, {0.6, 1, 0, 1}},
        {-50, 40, 300, 60, 10, {0, 0, 0, 0}},
        {kInf, 0, 1e-300, -kInf, kInf, {0, 1, 0, 1}},
        {0.5, kInf, 100, 0, 50, {1, 0.005, 0, 0.0025}},
        {std::nan(""), 40, std::nan(""), 60, 10, {0.4, 1, 0.6, 0.1}},  // defaults 100 and 100
    };
    for (const Easing& e : easings) {
        Float(UF3_EASING_MASTER, e.master);
        Float(UF3_EASE_DISTANCE, e.distance);
        Float(UF3_EASE_SOFTNESS_ADV, e.softness);
        Float(UF3_EASE_OPACITY_ADV, e.opacity);
        Float(UF3_EASE_GRADIENT_ADV, e.gradient);
        myParams eased{};
        Render(eased);
        const double got[] = {eased.easeDistance, eased.easeSoftness, eased.easeOpacity, eased.easeGradient};
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(got[k], e.want[k], 1e-12)
                << "factor " << k << " (distance, softness, opacity, gradient) with master " << e.master << " and "
                << e.distance << ", " << e.softness << ", " << e.opacity << ", " << e.gradient;
    }
}

// Between a slider's end and its valid end a value is typed in or set by an expression, and is
// the user's: every slider the render reads that can hold such a value shows it in the record.
TEST_F(RenderRecord, ValuesPastTheSliderButWithinTheValidRangeAreKept) {
    struct Case {
        int index;
        double value;
        int renderer;
        double (*field)(const myParams&);
        double want;
    };
    constexpr int kStd = UF3_RENDERER_STANDARD, kRt = UF3_RENDERER_RAYTRACED;
    const Case cases[] = {
        {UF3_LIGHT_RADIUS_STD, 1500, kStd, [](const myParams& p) { return p.lightRadius; }, 1500},
        {UF3_LIGHT_RADIUS_RT, 60000, kRt, [](const myParams& p) { return double(p.lightRadiusSD); }, 120000},
        {UF3_SHADOW_LENGTH, 3000, kRt, [](const myParams& p) { return double(p.shadowLengthSD); }, 3000},
        {UF3_SHADOW_LENGTH, -2500, kStd,
         [](const myParams& p) { return p.inverseShadow ? -p.shadowLength : p.shadowLength; }, -2500},
        {UF3_MATTE_GAMMA, 4, kStd, [](const myParams& p) { return p.shadowGamma; }, 0.25},
        {UF3_MATTE_GAMMA, 0.1, kRt, [](const myParams& p) { return p.shadowGamma; }, 10},
        {UF3_SAMPLES, 1500, kStd, [](const myParams& p) { return double(p.samples.size()); }, 1500},
        {UF3_BUFFER_EXPANSION, 900, kStd, [](const myParams& p) { return double(p.bufferMargin); }, 450},
        {UF3_DEBUG_LEFT, -4000, kStd, [](const myParams& p) { return p.debugLeft; }, -4000},
        {UF3_DEBUG_LEFT, 4000, kRt, [](const myParams& p) { return p.debugLeft; }, 4000},
        {UF3_DEBUG_TOP, 4500, kRt, [](const myParams& p) { return p.debugTop; }, 4500},
        {UF3_DEBUG_TOP, -4500, kStd, [](const myParams& p) { return p.debugTop; }, -4500},
        {UF3_DEBUG_SCALE, 4000, kStd, [](const myParams& p) { return p.debugScale; }, 40},
        {UF3_DEBUG_SCALE, -3000, kRt, [](const myParams& p) { return p.debugScale; }, -30},
        {UF3_JFA_PADDING, 800, kRt, [](const myParams& p) { return double(p.padOffset - 1); }, 800},
    };
    // Declared with such a range, but read by no render.
    const int unread[] = {UF3_DEBUG_RIGHT, UF3_DEBUG_BOTTOM, UF3_RENDER_LOOPS};
    for (int i = 1; i < UF3_NUM_PARAMS; ++i) {
        const PF_ParamDef& d = H().ParamDefs()[size_t(i)];
        if (d.param_type != PF_Param_FLOAT_SLIDER) continue;
        // Each side with room between the slider's end and the valid end needs a case on that side.
        for (const bool top : {false, true}) {
            const bool room = top ? d.u.fs_d.slider_max < d.u.fs_d.valid_max : d.u.fs_d.slider_min > d.u.fs_d.valid_min;
            if (!room || std::count(std::begin(unread), std::end(unread), i)) continue;
            const bool covered = std::any_of(std::begin(cases), std::end(cases), [&](const Case& c) {
                return c.index == i && (top ? c.value > d.u.fs_d.slider_max && c.value <= d.u.fs_d.valid_max
                                            : c.value < d.u.fs_d.slider_min && c.value >= d.u.fs_d.valid_min);
            });
            EXPECT_TRUE(covered) << "parameter " << i << " has no case past its slider's " << (top ? "top" : "bottom");
        }
    }
    for (const Case& c : cases) {
        const PF_ParamDef saved = H().Param(c.index);
        Popup(UF3_RENDERER, c.renderer);
        Float(c.index, c.value);
        myParams p{};
        p.noise_worldP = &m_input;  // a texture, so that Matte Gamma is read
        EXPECT_EQ(Render(p), PF_Err_NONE) << c.index;
        EXPECT_NEAR(c.field(p), c.want, 1e-9 * std::fabs(c.want)) << "parameter " << c.index << " at " << c.value;
        H().Param(c.index) = saved;
    }
}

TEST_F(RenderRecord, QualityPresetDecidesRaytracedSampling) {
    const int ssaa[] = {1, 1, 2, 2, 4}, samples[] = {12, 25, 50, 100, 250};
    Float(UF3_SAMPLES, 7);
    for (int preset = 1; preset <= 5; ++preset) {
        Popup(UF3_QUALITY_PRESET, preset);
        myParams p{};
        Render(p);
        EXPECT_EQ(p.ssaa, ssaa[preset - 1]);
        EXPECT_EQ(p.numSamples, samples[preset - 1]);
        EXPECT_EQ(int(p.samples.size()), samples[preset - 1]);
    }
    Popup(UF3_RENDERER, UF3_RENDERER_STANDARD);
    myParams standard{};
    Render(standard);
    EXPECT_TRUE(standard.numSamples == 7 && standard.ssaa == 0 && standard.qualityScale == 1.0)
        << standard.numSamples << " " << standard.ssaa << " " << standard.qualityScale;
}

TEST_F(RenderRecord, RaytracedFieldsComeFromTheParameters) {
    H().In().downsample_x = {1, 2};
    Degrees(UF3_LIGHT_DIRECTION, 100);
    Float(UF3_LIGHT_SOFTNESS, 15);
    Float(UF3_LIGHT_RADIUS_RT, 30);
    Float(UF3_SHADOW_LENGTH, 120);
    Float(UF3_EASE_OPACITY, 40);
    Float(UF3_EASE_SOFTNESS, 70);
    Float(UF3_EASE_GRADIENT, 25);
    Float(UF3_OPACITY_START_RT, 90);
    Float(UF3_OPACITY_END_RT, 30);
    Check(UF3_SHADOW_WITHIN_LIGHT, true);
    Check(UF3_AUTO_SHADOW_LENGTH, true);
    Float(UF3_FILL_INFLUENCE, 40);  // the Standard renderer's alone
    H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = PF_Fixed(37.5 * 65536);  // x and y apart
    H().Param(UF3_LIGHT_ORIGIN).u.td.y_value = PF_Fixed(81.25 * 65536);
    for (const int light : {UF3_LIGHT_DIRECTIONAL, UF3_LIGHT_POINT}) {
        SCOPED_TRACE(light);
        Popup(UF3_LIGHT_TYPE, light);
        myParams p{};
        ASSERT_EQ(Render(p), PF_Err_NONE);
        EXPECT_FLOAT_EQ(p.lightDirectionSD, float(170 * M_PI / 180));
        EXPECT_FLOAT_EQ(p.boundsAngle, float(10 * M_PI / 180));
        EXPECT_FLOAT_EQ(p.lightSoftness, 0.15f);
        EXPECT_FLOAT_EQ(p.lightRadiusSD, 30.0f) << "twice the radius, at half resolution";
        EXPECT_FLOAT_EQ(p.shadowLengthSD, 60.0f);
        EXPECT_FLOAT_EQ(p.shadowDistanceEase, 0.4f);
        EXPECT_FLOAT_EQ(p.shadowSoftnessEase, 0.7f);
        EXPECT_FLOAT_EQ(p.shadowGradEase, 0.25f);
        EXPECT_FLOAT_EQ(p.shadowStartOpacity, 0.9f);
        EXPECT_FLOAT_EQ(p.shadowEndOpacity, 0.3f);
        EXPECT_EQ(p.lightOriginRT[0], 37.5);
        EXPECT_EQ(p.lightOriginRT[1], 81.25);
        EXPECT_EQ(p.shadowInLight, light == UF3_LIGHT_POINT) << "a point light's options only";
        EXPECT_EQ(p.autoShadowLength, light == UF3_LIGHT_POINT);
        EXPECT_TRUE(p.fillInfluence == 1.0 && !p.rgbaPipeline) << p.fillInfluence;
    }
}

TEST_F(RenderRecord, RaytracedPadComesFromTheOffsetOrThePreRenderBlock) {
    Float(UF3_JFA_PADDING, 4);
    Degrees(UF3_LIGHT_DIRECTION, 135);
    for (double offset : {2.5, 0.0}) {
        Float(UF3_SHADOW_OFFSET_DIR, offset);
        myParams p{};
        Render(p);
        const int pad = offset > 0 ? 3 : 1;
        EXPECT_EQ(p.padOffset, pad + 4);
        EXPECT_FLOAT_EQ(p.jfaRes[0], float(40 * 2 + 2 * (pad + 4)));
        EXPECT_FLOAT_EQ(p.jfaRes[1], float(30 * 2 + 2 * (pad + 4)));
        EXPECT_TRUE(p.inRes[0] == 40 && p.inRes[1] == 30) << p.inRes[0] << " x " << p.inRes[1];
        EXPECT_NEAR(p.shadowOffset[0], -offset * std::sqrt(0.5), 1e-5);
        EXPECT_NEAR(p.shadowOffset[1], offset * std::sqrt(0.5), 1e-5);
    }
    Popup(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    myParams point{};
    point.preRenderCopy.pointPad = 9;
    Render(point);
    EXPECT_EQ(point.padOffset, 13);
    EXPECT_FLOAT_EQ(point.shadowOffset[0], 1.002f);
    EXPECT_TRUE(point.samples.empty());
}

// The record's member order decides the order its worlds go back in.
std::vector<const void*> g_disposed;
PF_Err RecordingDispose(void* ref, PF_EffectWorld* world) {
    g_disposed.push_back(world->data);
    return host::WorldTable::Instance().Suite()->PF_DisposeWorld(ref, world);
}

TEST_F(RenderRecord, WorldsAreDisposedInTheRecordsOrder) {
    PF_WorldSuite2 recording = *host::WorldTable::Instance().Suite();
    recording.PF_DisposeWorld = &RecordingDispose;
    host::SuiteRegistry::Instance().Register(kPFWorldSuite, kPFWorldSuiteVersion2, &recording);
    g_disposed.clear();
    std::vector<const void*> made;
    {
        myParams p{};
        for (UF_EffectWorld* w : {&p.innerShadowWorld, &p.innerInputPadded, &p.inputPadded}) {
            ASSERT_EQ(w->InitStructWorld(&H().In(), m_output, 4, 4), PF_Err_NONE);
            made.insert(made.begin(), w->world.data);
        }
    }
    host::SuiteRegistry::Instance().Register(kPFWorldSuite, kPFWorldSuiteVersion2,
                                             host::WorldTable::Instance().Suite());
    EXPECT_EQ(g_disposed, made) << "inputPadded, innerInputPadded, innerShadowWorld";
}

}  // namespace
