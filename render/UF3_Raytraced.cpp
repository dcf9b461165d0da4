#include "render/UF3_Raytraced.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "OpenGL/gl3.h"
#include "open_gl/RenderQuad.h"
#include "open_gl/Uniforms.h"
#include "params/UF3_ParamIndex.h"
#include "render/ProgramSlots.h"
#include "render/ThreadRenderData.h"
#include "resources/BlueNoise.h"
#include "shell/UF3.h"
#include "shell/UF3_Err.h"
#include "shell/UF3_GLErr.h"

namespace {

// The colour shader's array of gradient stops: a gradient never has more.
constexpr size_t kMaxShadowColors = 8;

enum SDBuffer : size_t { kInputAlpha, kFieldAlpha, kFieldPing, kFieldPong, kShadow, kNoise };

struct Size {
    int width, height;
};

// Float sizes of the record are whole pixels; truncation is the rule.
Size SizeOf(const float (&res)[2]) { return {int(res[0]), int(res[1])}; }

// The slot's program, or 0 when it never built: a pass then draws nothing.
GLuint SlotProgram(ProgramSlot slot) {
    const Program& program = ThreadGL("Raytraced passes").programs[size_t(slot)];
    return program.initialised() ? program.id() : 0;
}

uniform_t Flag(bool on) { return IVEC(on ? 1 : 0); }
uniform_t Pair(const float (&v)[2]) { return VEC2(Vec2f{v[0], v[1]}); }

}  // namespace

void AllocateSDBuffers(const myParams& p, SDBuffers& sd) {
    const bool deep = p.bitdepth == 32;
    const GLint alphaFormat = deep ? GL_R32F : GL_R8;
    const GLenum type = deep ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const Size in = SizeOf(p.inRes), field = SizeOf(p.jfaRes), out = SizeOf(p.outRes);
    sd.at(kInputAlpha).FramebufferInit(in.width, in.height, 1, p.bitdepth, alphaFormat, GL_RED, type);
    sd.at(kFieldAlpha).FramebufferInit(field.width, field.height, 1, p.bitdepth, alphaFormat, GL_RED, type);
    // Seed coordinates reach 65535 and must stay exact: 32-bit floats at either depth.
    sd.at(kFieldPing).FramebufferInit(field.width, field.height, 1, p.bitdepth, GL_RG32F, GL_RG, GL_FLOAT);
    sd.at(kFieldPong).FramebufferInit(field.width, field.height, 1, p.bitdepth, GL_RG32F, GL_RG, GL_FLOAT);
    // The shading program is chosen by the same flag, so buffer and shader always agree.
    const GLint shadowFormat = p.rgbaPipeline ? (deep ? GL_RGBA32F : GL_RGBA8) : alphaFormat;
    sd.at(kShadow).FramebufferInit(out.width, out.height, 1, p.bitdepth, shadowFormat, p.rgbaPipeline ? GL_RGBA : GL_RED,
                                   type);
}

int JumpFloodPassCount(int width, int height) {
    const int side = std::max(width, height);
    if (side <= 1) return 0;
    // log2 in single precision as ln(x) / ln(2); exact enough that 2^m gives m.
    return int(std::ceil(std::log(float(side)) * 1.442695f));
}

PF_Err Init_SD_Res(myParams& p, SDBuffers& sd) {
    AllocateSDBuffers(p, sd);

    // Flipped on upload: texture row 0 is the input's bottom row, as the passes count rows.
    const PF_Err err = sd.at(kInputAlpha).FBO_Upload_Texture(p.input_worldP, p.in_data);
    LogIfError(err, "Init_SD_Res:FBO_Upload_Texture", &p);

    const Size in = SizeOf(p.inRes), field = SizeOf(p.jfaRes);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, sd.at(kInputAlpha).GetFBO(PING));
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, sd.at(kFieldAlpha).GetFBO(PING));
    glBlitFramebuffer(0, 0, in.width, in.height, 0, 0, field.width, field.height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    const std::string refused = TakeGLError("Init_SD_Res glBlitFramebuffer");
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    if (!refused.empty()) throw UF_Err(PF_Err_OUT_OF_MEMORY, refused);

    sd.at(kNoise).NoiseTexInit(blue_noise_img);
    LogIfError(err, "SD_InitResEnd", &p);
    return err;
}

void ProcJFA(myParams& p, SDBuffers& sd) {
    const GLuint program = SlotProgram(kJumpFloodProgram);
    const Size field = SizeOf(p.jfaRes);
    UniformMap uniforms{
        {"in_tex", TEX2D(sd.at(kFieldAlpha).GetTAO(PING))},
        {"jfa_res", Pair(p.jfaRes)},
        {"in_res", Pair(p.inRes)},
        {"alpha_threshold", VEC(p.alphaThreshold)},
        {"inner_shadow", Flag(p.innerShadow)},
        {"k", IVEC(0)},
        {"shadow_offset", Pair(p.shadowOffset)},
        {"light_type", IVEC(p.lightType)},
        {"inverseShadowB", Flag(p.sdInverseShadow)},
        {"point_anchor", Pair(p.lightPosition)},
        {"debug_left", VEC(float(p.debugLeft))},
        {"debug_top", VEC(float(p.debugTop))},
        {"debug_viewL", IVEC(p.sdDebugView)},
        {"lastStepB", IVEC(0)},
    };

    // Seed pass: every texel covered by the (offset) source holds its own coordinates.
    RenderQuadFBO(sd.at(kFieldPing).GetFBO(PING), field.width, field.height, program, uniforms);
    p.jfaResultIndex = kFieldPing;
    uniforms["debug_left"] = VEC(0.0f);
    uniforms["debug_top"] = VEC(0.0f);

    // Flood passes at halving steps, ping-ponging between the two field buffers.
    const int passes = JumpFloodPassCount(field.width, field.height);
    for (int m = 0; m < passes; ++m) {
        const size_t read = m % 2 == 0 ? kFieldPing : kFieldPong;
        const size_t write = m % 2 == 0 ? kFieldPong : kFieldPing;
        uniforms["k"] = IVEC(1 << (passes - 1 - m));
        uniforms["lastStepB"] = IVEC(m == passes - 1 ? 1 : 0);
        uniforms["jfa_tex"] = TEX2D(sd.at(read).GetTAO(PING));
        RenderQuadFBO(sd.at(write).GetFBO(PING), field.width, field.height, program, uniforms);
        p.jfaResultIndex = int32_t(write);
    }
}

void ProcShadow(myParams& p, SDBuffers& sd) {
    const GLuint program = SlotProgram(p.rgbaPipeline ? kShadowColourProgram : kShadowAlphaProgram);
    const Size out = SizeOf(p.outRes);
    UniformMap uniforms{
        {"jfa_tex", TEX2D(sd.at(size_t(p.jfaResultIndex)).GetTAO(PING))},
        {"blue_noise_tex", TEX2D(sd.at(kNoise).GetTAO(PING))},
        {"in_res", Pair(p.inRes)},
        {"jfa_res", Pair(p.jfaRes)},
        {"out_res", Pair(p.outRes)},
        {"out_offset", Pair(p.outOffset)},
        {"light_type", IVEC(p.lightType)},
        {"light_direction", VEC(p.lightDirectionSD)},
        {"light_softness", VEC(p.lightSoftness)},
        {"light_position", Pair(p.lightPosition)},
        {"light_radius", VEC(p.lightRadiusSD)},
        {"inner_shadow", Flag(p.innerShadow)},
        {"shadow_in_light", Flag(p.shadowInLight)},
        {"shadow_length", VEC(p.shadowLengthSD)},
        {"shadow_start_opacity", VEC(p.shadowStartOpacity)},
        {"shadow_end_opacity", VEC(p.shadowEndOpacity)},
        {"shadow_distance_ease", VEC(p.shadowDistanceEase)},
        {"shadow_softness_ease", VEC(p.shadowSoftnessEase)},
        {"shadow_cycle_offset", VEC(p.cycleOffset)},
        {"shadow_grad_interp", Flag(p.interpolate)},
        {"shadowGammaF", VEC(float(p.shadowGamma))},
        {"num_samples", IVEC(p.numSamples)},
        {"shadow_opacity", VEC(float(p.shadowOpacity))},
        {"ssaaF", VEC(float(p.ssaa))},
        {"inverse_shadow", Flag(p.sdInverseShadow)},
        {"auto_shadow_length", Flag(p.autoShadowLength)},
        {"debugViewL", IVEC(p.sdDebugView)},
        {"debug_left", VEC(float(p.debugLeft))},
        {"debug_top", VEC(float(p.debugTop))},
    };
    if (p.rgbaPipeline) {
        // The shader's array holds eight stops; more would be read past its end.
        const size_t count = std::min(p.shadowColors.size(), kMaxShadowColors);
        uniforms["shadow_grad_ease"] = VEC(p.shadowGradEase);
        uniforms["num_shadow_colors"] = IVEC(int(count));
        for (size_t i = 0; i < count; ++i) {
            const std::string entry = "shadow_colors[" + std::to_string(i) + "]";
            const auto& rgb = p.shadowColors[i];
            uniforms[entry + ".color"] = VEC3(Vec3f{rgb[0], rgb[1], rgb[2]});
            const float position = p.fillMode == UF3_FILL_GRADIENT ? float(p.gradient.at(i).position) : 0.0f;
            uniforms[entry + ".position"] = VEC(position);
        }
    }
    RenderQuadFBO(sd.at(kShadow).GetFBO(PING), out.width, out.height, program, uniforms);
}
