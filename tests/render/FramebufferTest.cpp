// Framebuffers: allocation and its refusals, host worlds into textures, read-back into host
// worlds, lookups, and that no GL name outlives its object.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/PixelOps.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"
#include "open_gl/Framebuffer.h"
#include "render/GLFixture.h"
#include "render/UF3_ProcGPU.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"

namespace {

// The host's iterate services, made to end the next iterate with a chosen result after doing
// its work (a user cancel, a failure).
PF_Err g_endWith = PF_Err_NONE;
PF_Err Iterate8(PF_InData* in, A_long b, A_long f, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                PF_IteratePixel8Func fn, PF_EffectWorld* dst) {
    const PF_Err err = host::Iterate8(in, b, f, src, area, refcon, fn, dst);
    return err ? err : std::exchange(g_endWith, PF_Err_NONE);
}
PF_Err IterateFloat(PF_InData* in, A_long b, A_long f, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_IteratePixelFloatFunc fn, PF_EffectWorld* dst) {
    const PF_Err err = host::IterateFloat(in, b, f, src, area, refcon, fn, dst);
    return err ? err : std::exchange(g_endWith, PF_Err_NONE);
}
PF_Iterate8Suite1 g_iterate8{};
PF_iterateFloatSuite1 g_iterateFloat{};

UF_Err Caught(const std::function<void()>& f) {
    try {
        f();
    } catch (const UF_Err& e) {
        return e;
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

#define EXPECT_UF_ERR(code_, text_, ...)                \
    do {                                                \
        const UF_Err e_ = Caught([&] { __VA_ARGS__; }); \
        EXPECT_EQ(e_.code, (code_));                    \
        EXPECT_EQ(e_.message, std::string(text_));      \
    } while (0)

template <typename Pixel>
Pixel& At(PF_EffectWorld& world, int x, int y) {
    return reinterpret_cast<Pixel*>(reinterpret_cast<char*>(world.data) + size_t(y) * world.rowbytes)[x];
}

std::vector<uint8_t> Bytes(const PF_EffectWorld& world) {
    const auto* p = reinterpret_cast<const uint8_t*>(world.data);
    return std::vector<uint8_t>(p, p + size_t(world.rowbytes) * world.height);
}

template <typename T>
std::vector<T> TextureImage(GLuint texture, GLenum format, GLenum type, size_t count) {
    std::vector<T> texels(count);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, format, type, texels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texels;
}

// A texture parameter, or with a level that level's property.
GLint TexInfo(GLuint texture, GLenum what, int level = -1) {
    GLint value = -1;
    glBindTexture(GL_TEXTURE_2D, texture);
    if (level < 0) glGetTexParameteriv(GL_TEXTURE_2D, what, &value);
    else glGetTexLevelParameteriv(GL_TEXTURE_2D, level, what, &value);
    glBindTexture(GL_TEXTURE_2D, 0);
    return value;
}

int LiveFramebuffers() {
    int alive = 0;
    for (GLuint name = 1; name < 4096; ++name) alive += glIsFramebuffer(name) ? 1 : 0;
    return alive;
}

// Deterministic bytes with every alpha from 0 to 255 represented over a 16 × 8 world.
A_u_char Byte(int x, int y, int c) { return A_u_char((x * 37 + y * 101 + c * 59 + x * y * 7) & 0xFF); }

class Framebuffers : public GLContextSuite {
protected:
    void SetUp() override {
        GLContextSuite::SetUp();
        g_iterate8 = *host::Iterate8Suite();
        g_iterate8.iterate = &Iterate8;
        g_iterateFloat = *host::IterateFloatSuite();
        g_iterateFloat.iterate = &IterateFloat;
        auto& registry = host::SuiteRegistry::Instance();
        registry.Register(kPFIterate8Suite, kPFIterate8SuiteVersion1, &g_iterate8);
        registry.Register(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, &g_iterateFloat);
        host::HandleTable::Instance().ClearFaults();
        m_handles = host::HandleTable::Instance().Alive();
        m_params.in_data = &m_host.In();
        m_params.suites = &m_suites;
        m_params.bitdepth = 8;
        m_params.renderer = 1;
        m_params.lightType = 1;
        m_params.fillMode = 1;
        m_params.fillInfluence = 1.0;
        m_params.qualityPreset = 4;
    }
    void TearDown() override {
        auto& registry = host::SuiteRegistry::Instance();
        registry.Register(kPFIterate8Suite, kPFIterate8SuiteVersion1, host::Iterate8Suite());
        registry.Register(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, host::IterateFloatSuite());
        for (PF_EffectWorld& world : m_worlds) host::WorldTable::Instance().Dispose(&world);
        auto& handles = host::HandleTable::Instance();
        handles.ClearFaults();
        EXPECT_EQ(handles.Alive(), m_handles) << "a staging handle was left behind";
        EXPECT_EQ(handles.LocksHeld(), 0);
        EXPECT_EQ(handles.Misuses(), 0);
        EXPECT_EQ(GetInt(GL_UNPACK_ROW_LENGTH), 0) << "every transfer assumes tight rows";
        EXPECT_EQ(GetInt(GL_PACK_ROW_LENGTH), 0);
        GLContextSuite::TearDown();
    }

    PF_EffectWorld& NewWorld(int width, int height, int depth) {
        PF_EffectWorld& world = m_worlds.emplace_back();
        EXPECT_EQ(host::WorldTable::Instance().New(width, height, true,
                                                   depth == 8 ? PF_PixelFormat_ARGB32 : PF_PixelFormat_ARGB128, &world),
                  PF_Err_NONE);
        return world;
    }

    // A world's texture as the Standard roads upload it for the record.
    PF_Err InitFromWorld(Framebuffer& fb, PF_EffectWorld* world) {
        return fb.FBO_Init_PF_World(world, WorldUploadSettings(m_params), m_params.suites, m_params.in_data);
    }

    host::Host m_host;
    AEGP_SuiteHandler m_suites{m_host.In().pica_basicP};
    myParams m_params{};
    std::deque<PF_EffectWorld> m_worlds;
    size_t m_handles = 0;
};

TEST_F(Framebuffers, TextureFromAWorldIsPremultipliedAndLeavesTheWorldAlone) {
    for (const int depth : {8, 32})
        for (const bool linear : {false, true}) {
            SCOPED_TRACE(std::to_string(depth) + (linear ? " bits, linearised gradient" : " bits, plain colour"));
            PF_EffectWorld& world = NewWorld(16, 8, depth);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x) {
                    // At 32 bits some alphas above 1 or below 0, some colours below 0.
                    if (depth == 8) At<PF_Pixel>(world, x, y) = {Byte(x, y, 0), Byte(x, y, 1), Byte(x, y, 2), Byte(x, y, 3)};
                    else At<PF_PixelFloat>(world, x, y) = {Byte(x, y, 0) / 200.0f - 0.2f, Byte(x, y, 1) / 128.0f - 0.5f,
                                                           Byte(x, y, 2) / 255.0f, 1.5f - Byte(x, y, 3) / 100.0f};
                }
            if (depth == 8) At<PF_Pixel>(world, 3, 2) = {0, 200, 100, 50};  // no coverage, some colour
            const std::vector<uint8_t> before = Bytes(world);
            m_params.bitdepth = int16_t(depth);
            m_params.fillInfluence = depth == 8 ? 0.5 : 0.25;
            m_params.fillMode = linear ? 2 : 1;
            m_params.linearBlending = depth == 8 || linear;  // counts only for a gradient fill
            m_params.qualityPreset = depth == 8 ? 3 : 4;     // Moderate, the highest preset with mipmaps; High
            Framebuffer fb;
            EXPECT_EQ(InitFromWorld(fb, &world), PF_Err_NONE);
            const GLuint texture = fb.GetTAO(PING);
            EXPECT_EQ(TexInfo(texture, GL_TEXTURE_INTERNAL_FORMAT, 0), depth == 8 ? GL_RGBA8 : GL_RGBA32F);
            EXPECT_EQ(TexInfo(texture, GL_TEXTURE_MIN_FILTER), depth == 8 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
            EXPECT_EQ(TexInfo(texture, GL_TEXTURE_WIDTH, 1), depth == 8 ? 8 : 0) << "mipmaps below High only";
            EXPECT_EQ(TexInfo(texture, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_BORDER);

            const auto texels = TextureImage<float>(texture, GL_RGBA, GL_FLOAT, 16 * 8 * 4);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x) {
                    const float* t = &texels[(size_t(y) * 16 + x) * 4];
                    if (depth == 8) {
                        const PF_Pixel p = At<PF_Pixel>(world, x, y);
                        const A_u_char colour[3] = {p.red, p.green, p.blue};
                        for (int c = 0; c < 3; ++c) {
                            float v = colour[c] / 255.0f;
                            if (linear) v = std::pow(v, 2.22f);
                            const int want = p.alpha ? int(std::min(255.0f, v * (p.alpha / 255.0f) * 255.0f)) : 0;
                            // Truncation after single-precision products: operands in another order
                            // may land one ulp on the other side of an integer. Alpha 0 is exact.
                            EXPECT_NEAR(std::lround(t[c] * 255), want, p.alpha ? 1 : 0) << x << ", " << y << " channel " << c;
                        }
                        EXPECT_EQ(std::lround(t[3] * 255), p.alpha) << x << ", " << y;
                    } else {
                        const PF_PixelFloat p = At<PF_PixelFloat>(world, x, y);
                        const float colour[3] = {p.red, p.green, p.blue};
                        for (int c = 0; c < 3; ++c) {
                            const double v = std::max(0.0f, colour[c]);
                            const double want = std::max(0.0, linear ? p.alpha * std::pow(v, 2.22) : v * p.alpha);
                            // Float texels hold the value as computed in double, rounded once.
                            EXPECT_EQ(t[c], float(want)) << x << ", " << y << " channel " << c;
                        }
                        EXPECT_EQ(t[3], p.alpha);
                    }
                }
            EXPECT_EQ(Bytes(world), before) << "the host world is only read";
        }
}

TEST_F(Framebuffers, TheRenderDecidesBetweenColourAndAlphaAlone) {
    PF_EffectWorld& world = NewWorld(4, 2, 8);
    for (int i = 0; i < 8; ++i) At<PF_Pixel>(world, i % 4, i / 4) = {A_u_char(30 * i + 5), 255, 128, 0};
    const struct {
        double influence;
        bool inner;
        int lightType, renderer;
        bool rgba;
    } cases[] = {
        {0.5, false, 1, 1, true},   // some of the source's own colour shows
        {1.0, false, 1, 1, false},  // fully filled: coverage is enough
        {0.5, true, 1, 1, false},   // inner shadows need coverage only
        {1.0, true, 2, 1, true},    // the Standard point light always carries colour
        {1.0, false, 2, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.influence) + " inner " + std::to_string(c.inner) + " light " +
                     std::to_string(c.lightType) + " renderer " + std::to_string(c.renderer));
        m_params.fillInfluence = c.influence;
        m_params.innerShadow = c.inner;
        m_params.lightType = c.lightType;
        m_params.renderer = c.renderer;
        Framebuffer fb;
        InitFromWorld(fb, &world);
        EXPECT_EQ(fb.m_rgba, c.rgba);
        EXPECT_EQ(TexInfo(fb.GetTAO(PING), GL_TEXTURE_INTERNAL_FORMAT, 0), c.rgba ? GL_RGBA8 : GL_R8);
        if (c.rgba) continue;
        // Alone, the alpha is stored unchanged, host row 0 first.
        EXPECT_EQ(TextureImage<uint8_t>(fb.GetTAO(PING), GL_RED, GL_UNSIGNED_BYTE, 8),
                  (std::vector<uint8_t>{5, 35, 65, 95, 125, 155, 185, 215}));
    }
}

TEST_F(Framebuffers, AlphaUploadPutsTheHostsBottomRowIntoTextureRowZero) {
    for (const int depth : {8, 32}) {
        SCOPED_TRACE(depth);
        PF_EffectWorld& world = NewWorld(3, 2, depth);
        const int alphas[2][3] = {{10, 20, 30}, {40, 50, 60}};  // host rows, top first
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                if (depth == 8) At<PF_Pixel>(world, x, y) = {A_u_char(alphas[y][x]), 1, 2, 3};
                else At<PF_PixelFloat>(world, x, y) = {alphas[y][x] / 100.0f, 1, 2, 3};
            }
        m_params.bitdepth = int16_t(depth);
        Framebuffer fb;
        fb.FramebufferInit(3, 2, 1, depth, depth == 8 ? GL_R8 : GL_R32F, GL_RED, depth == 8 ? GL_UNSIGNED_BYTE : GL_FLOAT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
        EXPECT_EQ(fb.FBO_Upload_Texture(&world, m_params.in_data), PF_Err_NONE);
        EXPECT_EQ(GetInt(GL_UNPACK_ALIGNMENT), 4);
        EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), 0);
        const auto texels = TextureImage<float>(fb.GetTAO(PING), GL_RED, GL_FLOAT, 6);
        const float want[6] = {40, 50, 60, 10, 20, 30};
        for (int i = 0; i < 6; ++i)  // an 8-bit texel reads back as n / 255
            EXPECT_NEAR(texels[i], want[i] / (depth == 8 ? 255.0f : 100.0f), 1e-6) << "texel " << i % 3 << ", row " << i / 3;
    }
}

TEST_F(Framebuffers, ReadBackLandsOnTheWorldsRowsWithoutReorderOrFlip) {
    // Odd width: the world's rows are padded, and the padding must stay untouched.
    Framebuffer single;
    single.FramebufferInit(5, 3, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE);
    std::vector<float> values;
    for (int i = 0; i < 15; ++i) values.push_back((i * 16 + 3) / 255.0f);
    UploadFloats(single.GetTAO(PING), 5, 3, GL_RED, values);
    PF_EffectWorld& world8 = NewWorld(5, 3, 8);
    std::memset(world8.data, 0xCD, size_t(world8.rowbytes) * world8.height);
    FBOtoEffectWorld(single.GetFBO(PING), 8, &world8, 0, 0, GL_COLOR_ATTACHMENT0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            // GL row y lands in world row y; red goes to the alpha slot, full alpha to blue.
            const PF_Pixel p = At<PF_Pixel>(world8, x, y);
            EXPECT_EQ((std::vector<int>{p.alpha, p.red, p.green, p.blue}), (std::vector<int>{(y * 5 + x) * 16 + 3, 0, 0, 255}))
                << x << ", " << y;
        }
        const auto* row = reinterpret_cast<const uint8_t*>(world8.data) + size_t(y) * world8.rowbytes;
        EXPECT_TRUE(std::all_of(row + 5 * 4, row + world8.rowbytes, [](uint8_t b) { return b == 0xCD; }))
            << "row " << y << " padding written";
    }
    EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), 0);

    Framebuffer colour;
    colour.FramebufferInit(5, 3, 1, 32, GL_RGBA32F, GL_RGBA, GL_FLOAT);
    std::vector<float> rgba;
    for (int i = 0; i < 15 * 4; ++i) rgba.push_back(i * 0.125f - 1.0f);
    UploadFloats(colour.GetTAO(PING), 5, 3, GL_RGBA, rgba);
    PF_EffectWorld& world32 = NewWorld(5, 3, 32);
    FBOtoEffectWorld(colour.GetFBO(PING), 32, &world32, 0, 0, GL_COLOR_ATTACHMENT0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const PF_PixelFloat p = At<PF_PixelFloat>(world32, x, y);
            const float* t = &rgba[(size_t(y) * 5 + x) * 4];
            EXPECT_EQ((std::vector<float>{p.alpha, p.red, p.green, p.blue}), std::vector<float>(t, t + 4)) << x << ", " << y;
        }

    // A float read into an 8-bit world would write four times its rows: refused, world intact.
    const std::vector<uint8_t> before = Bytes(world8);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "FBOtoEffectWorld: world rows cannot hold 5 pixels of bitdepth 32",
                  FBOtoEffectWorld(colour.GetFBO(PING), 32, &world8, 0, 0, GL_COLOR_ATTACHMENT0));
    EXPECT_EQ(Bytes(world8), before);
    // Nothing to read into is not a fault.
    PF_EffectWorld empty{};
    FBOtoEffectWorld(colour.GetFBO(PING), 32, nullptr, 0, 0, GL_COLOR_ATTACHMENT0);
    FBOtoEffectWorld(colour.GetFBO(PING), 32, &empty, 0, 0, GL_COLOR_ATTACHMENT0);
}

TEST_F(Framebuffers, RefusedAllocationsNameEveryFaultAndLeaveTheObjectAsItWas) {
    Framebuffer fb;
    ASSERT_TRUE(fb.FramebufferInit(8, 4, 1, 8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE));
    const GLuint name = fb.GetFBO(PING);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "FBO init called on already allocated FBO",
                  fb.FramebufferInit(8, 4, 1, 8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK,
                  "FBO init called on already allocated FBOFBO init requested with either too many or too few buffers",
                  fb.FramebufferInit(16, 16, 3, 8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE));
    // The refused calls changed nothing: still one 8 × 4 buffer.
    EXPECT_EQ(fb.m_count, 1);
    EXPECT_EQ(fb.m_width, 8);
    EXPECT_EQ(fb.GetFBO(PING), name);
    PF_EffectWorld& world = NewWorld(2, 2, 8);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "FBO init called on already allocated FBO",
                  InitFromWorld(fb, &world));

    Framebuffer fresh;
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "FBO init requested with either too many or too few buffers",
                  fresh.FramebufferInit(8, 4, 0, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "FBO init requested with bad bitdepth",
                  fresh.FramebufferInit(8, 4, 1, 16, GL_R8, GL_RED, GL_UNSIGNED_BYTE));
    fresh.m_bufferH = reinterpret_cast<PF_Handle>(&fresh);  // as while an upload runs
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "Error: handle is already allocated",
                  fresh.FramebufferInit(8, 4, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE));
    fresh.m_bufferH = nullptr;
    EXPECT_FALSE(fresh.m_init);

    // A zero-size attachment passes the checks, marks the object empty and is incomplete.
    {
        Framebuffer flat;  // no rows is as empty as no columns
        EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY, "FramebufferInit failed, resolution: 8x0",
                      flat.FramebufferInit(8, 0, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE));
        EXPECT_TRUE(flat.m_empty);
    }
    const int framebuffersBefore = LiveFramebuffers();
    Framebuffer empty;
    EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY, "FramebufferInit failed, resolution: 0x8",
                  empty.FramebufferInit(0, 8, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE));
    EXPECT_TRUE(empty.m_empty);
    EXPECT_FALSE(empty.m_init);
    EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), 0) << "unbound before throwing";
    EXPECT_EQ(LiveFramebuffers(), framebuffersBefore + 1) << "kept for the destructor";
    // A retry starts afresh instead of appending behind the failed names.
    ASSERT_TRUE(empty.FramebufferInit(4, 8, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE));
    EXPECT_FALSE(empty.m_empty);
    EXPECT_EQ(empty.m_fboV.size(), 1u);
    EXPECT_EQ(LiveFramebuffers(), framebuffersBefore + 1);
    glBindFramebuffer(GL_FRAMEBUFFER, empty.GetFBO(PING));
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    // Uploads need an allocated single-channel buffer of the world's size.
    const char* notInit = "FBO_Upload_Texture was either NOT init or passed effect world of different dims";
    Framebuffer none, rgba;
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, notInit, none.FBO_Upload_Texture(&world, m_params.in_data));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, notInit, fb.FBO_Upload_Texture(&world, m_params.in_data));
    Framebuffer fromWorld;  // a texture of the same size, but no framebuffer to draw it in
    InitFromWorld(fromWorld, &world);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, notInit, fromWorld.FBO_Upload_Texture(&world, m_params.in_data));
    rgba.FramebufferInit(2, 2, 1, 8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "FBO_Upload_Texture needs a single-channel FBO of bytes (8) or floats (32)",
                  rgba.FBO_Upload_Texture(&world, m_params.in_data));
}

TEST_F(Framebuffers, LookupsAndBindsRefuseWhatIsNotThere) {
    Framebuffer none, one, pair, fromWorld, noise;
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetFBO() on uninitialised FBO", none.GetFBO(PING));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetTAO() on uninitialised FBO/TAO", none.GetTAO(PING));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called BindFBO() on uninitialised FBO", none.BindFBO(PING, false));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called bindTAO() on uninitialised FBO/TAO", none.BindTAO(PING));
    one.FramebufferInit(6, 3, 1, 32, GL_RGBA32F, GL_RGBA, GL_FLOAT);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetFBO() with buffer index out of range: 1", one.GetFBO(PONG));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetTAO() with buffer index out of range: 1", one.GetTAO(PONG));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called BindFBO() with buffer index out of range: 1", one.BindFBO(PONG, true));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called bindTAO() with index out of range: 1", one.BindTAO(PONG));

    // The second of a pair: bound with the viewport set and cleared, its texture on the active unit.
    pair.FramebufferInit(6, 3, 2, 32, GL_RGBA32F, GL_RGBA, GL_FLOAT);
    EXPECT_NE(pair.GetFBO(PING), pair.GetFBO(PONG));
    glClearColor(0.5f, 0.5f, 0.5f, 0.5f);
    pair.BindFBO(PONG, false);
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(0, 0, 1, 1);
    pair.BindFBO(PONG, true);
    EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), GLint(pair.GetFBO(PONG)));
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 6, 3}));
    const std::vector<float> cleared = ReadRGBA(pair.GetFBO(PONG), 6, 3);
    EXPECT_EQ(*std::max_element(cleared.begin(), cleared.end()), 0.0f) << "cleared to transparent black";
    glActiveTexture(GL_TEXTURE2);
    pair.BindTAO(PONG);
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), GLint(pair.GetTAO(PONG))) << "on the active unit";
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);

    // A texture made from a world or the noise table has no framebuffer behind it at any index.
    InitFromWorld(fromWorld, &NewWorld(2, 2, 8));
    EXPECT_NE(fromWorld.GetTAO(PING), 0u);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetFBO() with buffer index out of range: 0", fromWorld.GetFBO(PING));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called BindFBO() with buffer index out of range: 0",
                  fromWorld.BindFBO(PING, false));
    // The noise texture keeps the red byte of each table pixel.
    std::vector<unsigned char> table(1024 * 1024 * 4, 0xEE);
    for (size_t i = 0; i < 1024 * 1024; ++i) table[4 * i] = (unsigned char)((i * 7 + i / 1024 * 13) & 0xFF);
    EXPECT_TRUE(noise.NoiseTexInit(table.data()));
    EXPECT_EQ(noise.m_count, 0);
    EXPECT_EQ(TexInfo(noise.GetTAO(PING), GL_TEXTURE_INTERNAL_FORMAT, 0), GL_R8);
    EXPECT_EQ(TexInfo(noise.GetTAO(PING), GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
    const auto red = TextureImage<uint8_t>(noise.GetTAO(PING), GL_RED, GL_UNSIGNED_BYTE, 1024 * 1024);
    size_t wrong = 0;
    for (size_t i = 0; i < red.size(); ++i) wrong += red[i] != table[4 * i] ? 1 : 0;
    EXPECT_EQ(wrong, 0u);
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetFBO() with buffer index out of range: 0", noise.GetFBO(PING));
    EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "Framebuffer::NoiseTexInit already have vector resource",
                  noise.NoiseTexInit(table.data()));
}

TEST_F(Framebuffers, HostFailuresAreThrownAndGiveTheHandleBackAndACancelIsReturned) {
    auto& handles = host::HandleTable::Instance();
    PF_EffectWorld& world = NewWorld(16, 8, 8);
    m_params.fillInfluence = 0.5;  // four channels of bytes per pixel
    {
        Framebuffer fb;
        handles.FailAllocation(1);
        EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY, "Framebuffer::FBO_Init_PF_World failed with res: 168, bitdepth of: 4",
                      InitFromWorld(fb, &world));
        EXPECT_EQ(fb.m_bufferH, nullptr);
        EXPECT_FALSE(fb.m_init);
        handles.FailLock(1);
        EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY,
                      "Framebuffer::FBO_Init_PF_World failed to lock bufferP with res: 168, bitdepth of: 4",
                      InitFromWorld(fb, &world));
        EXPECT_EQ(handles.Alive(), m_handles) << "the unlockable handle went back";
    }
    Framebuffer target;
    target.FramebufferInit(16, 8, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE);
    handles.FailAllocation(1);
    EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY, "FBO::FBO_Upload_Texture: !bufferH with dims 168",
                  target.FBO_Upload_Texture(&world, m_params.in_data));
    handles.FailLock(1);
    EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY, "FBO::FBO_Upload_Texture: !bufferP with dims 168",
                  target.FBO_Upload_Texture(&world, m_params.in_data));
    EXPECT_EQ(handles.Alive(), m_handles);
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), 0);
    EXPECT_EQ(target.FBO_Upload_Texture(&world, m_params.in_data), PF_Err_NONE) << "nothing was left half-done";

    // Iterate results: a user cancel is returned, with the upload completed from what the
    // callbacks wrote; any other error is thrown.
    m_params.fillInfluence = 1.0;
    for (int i = 0; i < 16 * 8; ++i) At<PF_Pixel>(world, i % 16, i / 16) = {A_u_char(10 + i), 0, 0, 0};
    Framebuffer cancelled, failed;
    g_endWith = PF_Interrupt_CANCEL;
    EXPECT_EQ(InitFromWorld(cancelled, &world), PF_Interrupt_CANCEL);
    EXPECT_TRUE(cancelled.m_init);
    EXPECT_EQ(TextureImage<uint8_t>(cancelled.GetTAO(PING), GL_RED, GL_UNSIGNED_BYTE, 128)[21], 31);
    g_endWith = PF_Err_BAD_CALLBACK_PARAM;
    EXPECT_UF_ERR(PF_Err_BAD_CALLBACK_PARAM, "Framebuffer::FBO_Init_PF_World iterate() err",
                  InitFromWorld(failed, &world));
    g_endWith = PF_Interrupt_CANCEL;
    EXPECT_EQ(target.FBO_Upload_Texture(&world, m_params.in_data), PF_Interrupt_CANCEL);
    g_endWith = PF_Err_OUT_OF_MEMORY;
    EXPECT_UF_ERR(PF_Err_OUT_OF_MEMORY, "Framebuffer::FBO_Upload_Texture iterate() err",
                  target.FBO_Upload_Texture(&world, m_params.in_data));
}

TEST_F(Framebuffers, NoGLNameOutlivesItsObject) {
    std::vector<GLuint> framebuffers, textures;
    const auto record = [&](const Framebuffer& fb) {
        framebuffers.insert(framebuffers.end(), fb.m_fboV.begin(), fb.m_fboV.end());
        textures.insert(textures.end(), fb.m_taoV.begin(), fb.m_taoV.end());
    };
    std::vector<unsigned char> table(1024 * 1024 * 4, 0);
    {
        Framebuffer pair, fromWorld, noise, failed;
        pair.FramebufferInit(8, 4, 2, 8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
        InitFromWorld(fromWorld, &NewWorld(8, 4, 8));
        noise.NoiseTexInit(table.data());
        Caught([&] { failed.FramebufferInit(0, 4, 1, 8, GL_R8, GL_RED, GL_UNSIGNED_BYTE); });
        for (const Framebuffer* fb : {&pair, &fromWorld, &noise, &failed}) record(*fb);

        // The Standard road sizes its vector of blur buffers once, then fills it; moves keep names.
        std::vector<Framebuffer> blur(3);
        for (Framebuffer& fb : blur) fb.FramebufferInit(4, 4, 2, 8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
        for (const Framebuffer& fb : blur) record(fb);
        Framebuffer moved = std::move(blur[1]);
        EXPECT_TRUE(moved.m_init);
        EXPECT_FALSE(blur[1].m_init);
        EXPECT_TRUE(blur[1].m_fboV.empty());
        EXPECT_TRUE(glIsFramebuffer(moved.GetFBO(PONG)));

        // Early release: names gone, object unusable.
        pair.CleanUp(0);
        EXPECT_EQ(std::vector<GLuint>(pair.m_fboV.begin(), pair.m_fboV.end()), (std::vector<GLuint>{0, 0}));
        EXPECT_EQ(std::vector<GLuint>(pair.m_taoV.begin(), pair.m_taoV.end()), (std::vector<GLuint>{0, 0}));
        EXPECT_EQ(pair.m_width, 0);
        EXPECT_UF_ERR(PF_Err_INVALID_CALLBACK, "called GetFBO() on uninitialised FBO", pair.GetFBO(PING));
    }
    EXPECT_EQ(framebuffers.size(), 2u + 1u + 6u);
    EXPECT_EQ(textures.size(), 2u + 1u + 1u + 1u + 6u);
    for (GLuint n : framebuffers) EXPECT_FALSE(glIsFramebuffer(n)) << "framebuffer " << n;
    for (GLuint n : textures) EXPECT_FALSE(glIsTexture(n)) << "texture " << n;
}

}  // namespace
