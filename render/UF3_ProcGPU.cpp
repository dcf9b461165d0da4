#include "render/UF3_ProcGPU.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "OpenGL/gl3.h"
#include "open_gl/Quad.h"
#include "params/UF3_ParamIndex.h"
#include "render/ProgramSlots.h"
#include "render/ThreadRenderData.h"
#include "render/UF3_Compositing.h"
#include "render/UF_EffectWorld.h"
#include "shell/UF3.h"

namespace {

// Working buffers of the Standard roads: half floats hold the accumulation
// of many faint copies without banding at either bit depth.
constexpr GLint kWorkInternalFormat = GL_RGBA16F;
constexpr GLenum kWorkFormat = GL_RGBA;
constexpr GLenum kWorkType = GL_UNSIGNED_SHORT;

GLint Location(GLuint program, const char* name) { return glGetUniformLocation(program, name); }

void DrawQuad() { glDrawArrays(GL_TRIANGLE_FAN, 0, 4); }

// The ratio quad of one render, deleted on every way out.
struct RatioQuad {
    RatioQuad(float rx, float ry) {
        if (!InitQuadRatio(&vao, &vbo, rx, ry)) throw UF_Err(PF_Err_OUT_OF_MEMORY, "InitQuadRatio failed");
    }
    GLObject vao, vbo;
};

// 4 x 4 matrices for column vectors, stored column after column.
struct Mat4 {
    float m[16];
};

Mat4 Identity() { return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}; }

Mat4 Translate(float x, float y) {
    Mat4 t = Identity();
    t.m[12] = x;
    t.m[13] = y;
    return t;
}

Mat4 Scale(float k) {
    Mat4 s = Identity();
    s.m[0] = k;
    s.m[5] = k;
    return s;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a.m[k * 4 + row] * b.m[col * 4 + k];
            r.m[col * 4 + row] = sum;
        }
    return r;
}

struct Vec2 {
    float x, y;
};

// Light and layer placement in device units of the output, for the copy pass.
struct PointTranslations {
    Vec2 a, b, c, d;
};

PointTranslations PointLightTranslations(const myParams& p, int r) {
    const PF_EffectWorld& out = *p.output_worldP;
    const PF_EffectWorld& in = *p.input_worldP;
    const double w = out.width, h = out.height;
    const double lx = p.lightOrigin[0] - out.origin_x, ly = p.lightOrigin[1] - out.origin_y;
    const double nx = double(in.origin_x) - out.origin_x, ny = double(in.origin_y) - out.origin_y;
    const double border = -2.0 * (r + 1);
    return {{float(2.0 * lx / w), float(2.0 * ly / h)},
            {float(-2.0 * lx / w), float(-2.0 * ly / h)},
            {float(2.0 * nx / w), float(2.0 * ny / h)},
            {float(border / w), float(border / h)}};
}

// Places the padded frame's input on its own pixels in the output, then
// scales it by k about the light.
Mat4 PointLightTransform(const PointTranslations& t, float k) {
    return Translate(t.a.x, t.a.y) * Translate(-1.0f, -1.0f) * Scale(k) * Translate(1.0f, 1.0f) *
           Translate(t.b.x, t.b.y) * Translate(t.c.x, t.c.y) * Translate(t.d.x, t.d.y);
}

PF_EffectWorld* ShadowTarget(myParams& p) {
    return p.innerShadow ? &p.innerShadowWorld.world : p.output_worldP;
}

PF_Err ProcRaytraced(myParams& p) {
    LocalGLStruct& gl = ThreadGL("ProcGPU");
    SDBuffers sdBuffers{};
    PF_Err err = Init_SD_Res(p, sdBuffers);

    // Debug views: one buffer scaled into the output, nothing composited.
    std::optional<UF_EffectWorld> view;
    auto ShowBuffer = [&](int index) {
        UF_EffectWorld& world = view.emplace(p.in_data, *p.output_worldP);
        world.width = A_long(p.jfaRes[0]);
        world.height = A_long(p.jfaRes[1]);
        world.ActuallyInit();
        FBOtoEffectWorld(sdBuffers.at(size_t(index)).GetFBO(PING), p.bitdepth, &world.world, 0, 0,
                         GL_COLOR_ATTACHMENT0);
        if (!err) err = XformLargerBufferIntoSmallerBuffer(p.in_data, &world.world, p.output_worldP);
    };
    if (p.sdDebugView == UF3_SD_VIEW_IN_FBO) {
        ShowBuffer(1);
        return err;
    }
    if (p.sdDebugView == UF3_SD_VIEW_CPU_PADDING) {
        if (!err) err = XformLargerBufferIntoSmallerBuffer(p.in_data, p.input_worldP, p.output_worldP);
        return err;
    }
    ProcJFA(p, sdBuffers);
    if (p.sdDebugView == UF3_SD_VIEW_JUMPFLOOD) {
        ShowBuffer(p.jfaResultIndex);
        return err;
    }

    ProcShadow(p, sdBuffers);
    p.shadow_worldP = ShadowTarget(p);
    if (!p.rgbaPipeline) {
        FBOtoEffectWorld(sdBuffers.at(4).GetFBO(PING), p.bitdepth, p.shadow_worldP, 0, 0, GL_COLOR_ATTACHMENT0);
        return err;
    }

    const bool deep = p.bitdepth == 32;
    Framebuffer finalFB;
    finalFB.FramebufferInit(p.output_worldP->width, p.output_worldP->height, 1, p.bitdepth,
                            deep ? GL_RGBA32F : GL_RGBA8, GL_RGBA, deep ? GL_FLOAT : GL_UNSIGNED_BYTE);
    finalFB.BindFBO(PING, true);
    glActiveTexture(GL_TEXTURE0);
    sdBuffers.at(4).BindTAO(PING);
    const GLuint program = UseProgram(gl, kFinalPassProgram, p.out_data);
    glBindVertexArray(gl.quadVAO);
    glUniform1i(Location(program, "unmultL"), p.innerShadow ? 1 : 0);
    glUniform1i(Location(program, "gammaB"), p.linearBlending ? 1 : 0);
    glUniform1f(Location(program, "shadowOpacityF"), 1.0f);
    glUniform1f(Location(program, "shadowGammaF"), 1.0f);
    DrawQuad();
    FBOtoEffectWorld(finalFB.GetFBO(PING), p.bitdepth, p.shadow_worldP, 0, 0, GL_COLOR_ATTACHMENT0);
    return err;
}

}  // namespace

UploadSettings WorldUploadSettings(const myParams& p) {
    const bool standard = p.renderer == UF3_RENDERER_STANDARD;
    // Draft, Low and Moderate sample the input shrunk: mipmaps keep that smooth.
    return {.bitdepth = p.bitdepth,
            .rgba = (p.fillInfluence < 1.0 && !p.innerShadow) || (p.lightType == UF3_LIGHT_POINT && standard),
            .mipmaps = p.qualityPreset < UF3_QUALITY_HIGH,
            .linearise = p.fillMode == UF3_FILL_GRADIENT && standard && p.fillInfluence < 1.0 && p.linearBlending};
}

PF_Err ProcGPU(myParams& p) {
    if (p.renderer == UF3_RENDERER_STANDARD) {
        if (p.lightType == UF3_LIGHT_POINT) return ProcPointLight(p);
        if (p.innerShadow) return ProcInnerDirectional(p);
        return ProcOuterDirectional(p);
    }
    return ProcRaytraced(p);
}

PF_Err ProcPointLight(myParams& p) {
    LocalGLStruct& gl = ThreadGL("ProcGPU");
    PF_EffectWorld* in = p.input_worldP;
    PF_EffectWorld* out = p.output_worldP;
    if (in == nullptr || out == nullptr) {
        throw UF_Err(PF_Err_BAD_CALLBACK_PARAM, "ProcPointLight needs the input and output worlds");
    }

    // The input sits in a frame with room for the widest blur and one pixel
    // of transparent border, so blurred edges fade out instead of clamping.
    const int r = int(std::ceil(p.lightRadius));
    const double paddedW = in->width + 2.0 * r + 2.0;
    const double paddedH = in->height + 2.0 * r + 2.0;
    const GLfloat scale[2] = {float(in->width / paddedW), float(in->height / paddedH)};
    p.rgbaPipeline = true;

    Framebuffer inputFB, copyFB, accumFB, scaledFB, blurFB;
    const PF_Err uploadErr = inputFB.FBO_Init_PF_World(in, WorldUploadSettings(p), p.suites, p.in_data);
    copyFB.FramebufferInit(out->width, out->height, 1, p.bitdepth, kWorkInternalFormat, kWorkFormat, kWorkType);
    accumFB.FramebufferInit(out->width, out->height, 1, p.bitdepth, kWorkInternalFormat, kWorkFormat, kWorkType);
    const int scaledW = int(std::ceil(p.qualityScale * paddedW));
    const int scaledH = int(std::ceil(p.qualityScale * paddedH));
    scaledFB.FramebufferInit(scaledW, scaledH, 1, p.bitdepth, kWorkInternalFormat, kWorkFormat, kWorkType);
    blurFB.FramebufferInit(scaledW, scaledH, 2, p.bitdepth, kWorkInternalFormat, kWorkFormat, kWorkType);

    glActiveTexture(GL_TEXTURE0);
    GLuint program = UseProgram(gl, kScaleProgram, p.out_data);
    inputFB.BindTAO(PING);
    scaledFB.BindFBO(PING, true);
    glBindVertexArray(gl.quadVAO);
    glUniform2fv(Location(program, "scale"), 1, scale);
    DrawQuad();

    // Each new copy lands under those already accumulated.
    glBlendFunc(GL_ONE_MINUS_DST_ALPHA, GL_ONE);

    {
        const RatioQuad ratioQuad(float(paddedW / out->width), float(paddedH / out->height));
        const PointTranslations placement = PointLightTranslations(p, r);
        for (int i = 0; i < p.numSamples; ++i) {
            const perSampleData& s = p.samples.at(size_t(i));
            // The blurs run at quality resolution: scale the radius alike.
            const double blur = s.blur * p.qualityScale;
            const int steps = std::max(int(std::ceil(blur)), 1);
            const float stride = float(blur / steps);

            program = UseProgram(gl, kHorizontalBlurProgram, p.out_data);
            glUniform1i(Location(program, "steps"), steps);
            glUniform1f(Location(program, "stride"), stride);
            scaledFB.BindTAO(PING);
            blurFB.BindFBO(PING, true);
            glBindVertexArray(gl.quadVAO);
            DrawQuad();

            program = UseProgram(gl, kVerticalBlurProgram, p.out_data);
            glUniform1i(Location(program, "steps"), steps);
            glUniform1f(Location(program, "stride"), stride);
            blurFB.BindTAO(PING);
            blurFB.BindFBO(PONG, true);
            DrawQuad();

            glBindVertexArray(ratioQuad.vao);
            program = UseProgram(gl, kCopyProgram, p.out_data);
            copyFB.BindFBO(PING, true);
            blurFB.BindTAO(PONG);
            const Mat4 xform = PointLightTransform(placement, float(s.scale + p.shadowOffsetPx));
            glUniformMatrix4fv(Location(program, "xform"), 1, GL_TRUE, xform.m);
            DrawQuad();

            program = UseProgram(gl, kColouriseProgram, p.out_data);
            glBindVertexArray(gl.quadVAO);
            copyFB.BindTAO(PING);
            accumFB.BindFBO(PING, i == 0);
            const PF_PixelFloat& c = p.fillMode == UF3_FILL_GRADIENT ? s.color : p.shadowColorF;
            glUniform4f(Location(program, "colorF"), c.red, c.green, c.blue, float(p.fillInfluence));
            glUniform1i(Location(program, "innerL"), p.innerShadow ? 1 : 0);
            glUniform1f(Location(program, "opacityF"), float(s.opacity));
            glEnable(GL_BLEND);
            DrawQuad();
            glDisable(GL_BLEND);
        }
    }

    p.shadow_worldP = ShadowTarget(p);
    StandardFinalPass(p, gl, accumFB, copyFB);
    return uploadErr;
}

void StandardFinalPass(myParams& p, LocalGLStruct& gl, Framebuffer& accum, Framebuffer& target) {
    target.BindFBO(PING, true);
    accum.BindTAO(PING);
    const GLuint program = UseProgram(gl, kFinalPassProgram, p.out_data);
    glUniform1i(Location(program, "unmultL"), 1);
    glUniform1i(Location(program, "gammaB"), p.linearBlending ? 1 : 0);
    glUniform1f(Location(program, "shadowOpacityF"), p.shadowColorF.alpha);
    glUniform1f(Location(program, "shadowGammaF"), float(p.shadowGamma));
    DrawQuad();
    FBOtoEffectWorld(target.GetFBO(PING), p.bitdepth, p.shadow_worldP, 0, 0, GL_COLOR_ATTACHMENT0);
}
