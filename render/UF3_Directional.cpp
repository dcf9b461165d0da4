#include "render/UF3_Directional.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "open_gl/Framebuffer.h"
#include "params/UF3_ParamIndex.h"
#include "render/ProgramSlots.h"
#include "render/ThreadRenderData.h"
#include "render/UF3_ProcGPU.h"
#include "shell/UF3.h"

namespace {

// Half floats hold the sum of many faint copies without banding at either
// bit depth; the coverage-only pipeline needs one channel of it.
struct WorkFormat {
    GLint internalFormat;
    GLenum format;
};
constexpr GLenum kWorkType = GL_UNSIGNED_SHORT;

WorkFormat WorkingFormat(const myParams& p) {
    return p.rgbaPipeline ? WorkFormat{GL_RGBA16F, GL_RGBA} : WorkFormat{GL_R16F, GL_RED};
}

void DrawQuad() { glDrawArrays(GL_TRIANGLE_FAN, 0, 4); }

// A zero-sized attachment is incomplete, and FramebufferInit would report an
// empty area as out of memory: such a buffer is only marked empty, and the
// road skips whatever needs it.
void InitOrMarkEmpty(Framebuffer& fb, int width, int height, int count, int bitdepth, GLint internalFormat,
                     GLenum format, GLenum type) {
    if (width < 1 || height < 1) {
        fb.m_empty = true;
        return;
    }
    fb.FramebufferInit(width, height, count, bitdepth, internalFormat, format, type);
}

// An empty world, allocated or not, has nothing to upload.
PF_Err UploadOrMarkEmpty(Framebuffer& fb, PF_EffectWorld* world, myParams& p) {
    if (world->width < 1 || world->height < 1) {
        fb.m_empty = true;
        return PF_Err_NONE;
    }
    return fb.FBO_Init_PF_World(world, WorldUploadSettings(p), p.suites, p.in_data);
}

// Sized before any is allocated; copies share them by bufferIndex.
std::vector<Framebuffer> MakeBlurBuffers(const myParams& p, const WorkFormat& work, bool labelled) {
    std::vector<Framebuffer> buffers(size_t(std::max(p.numBlurBuffers, 0)));
    for (size_t k = 0; k < buffers.size(); ++k) {
        const blurBufferSpec& area = p.blurBuffers.at(k);
        InitOrMarkEmpty(buffers[k], area.size[0], area.size[1], 2, p.bitdepth, work.internalFormat, work.format,
                        kWorkType);
        if (labelled) buffers[k].m_name = "blur_buffers_" + std::to_string(k);
    }
    return buffers;
}

// Each new copy lands under those already accumulated. A single-channel
// target reads its alpha as 1, so there the coverage itself is the guard.
void SetBlendFunction(const myParams& p) {
    glBlendFunc(p.rgbaPipeline ? GL_ONE_MINUS_DST_ALPHA : GL_ONE_MINUS_DST_COLOR, GL_ONE);
}

// The copy's kernel: at least one pixel of radius, one tap per pixel.
void SetBlurRadius(myParams& p, double radius) {
    p.blur = float(std::max(radius, 1.0));
    p.steps = std::max(int(std::ceil(p.blur)), 1);
}

PF_EffectWorld& Output(const myParams& p) {
    if (p.output_worldP == nullptr) throw UF_Err(PF_Err_BAD_CALLBACK_PARAM, "directional road needs the output world");
    return *p.output_worldP;
}

// Colour straight from the accumulation on the colour pipeline (final pass),
// else the coverage alone, coloured later on the CPU.
void ReadBack(myParams& p, LocalGLStruct& gl, Framebuffer& accumFB, const WorkFormat& work) {
    if (!p.rgbaPipeline) {
        FBOtoEffectWorld(accumFB.GetFBO(PING), p.bitdepth, p.shadow_worldP, 0, 0, GL_COLOR_ATTACHMENT0);
        return;
    }
    Framebuffer finalFB;
    finalFB.FramebufferInit(p.output_worldP->width, p.output_worldP->height, 1, p.bitdepth, work.internalFormat,
                            work.format, kWorkType);
    StandardFinalPass(p, gl, accumFB, finalFB);
}

// What differs between the two roads inside the copy loop.
struct Road {
    Framebuffer& source;  // what the horizontal blur samples
    // Sets p.blur, p.steps, p.stride, p.scaleW, p.scaleH for the horizontal pass.
    void (*horizontal)(myParams& p, const perSampleData& s, const blurBufferSpec& area);
    // Stride of the vertical pass from that of the horizontal one.
    float (*verticalStride)(const myParams& p);
    void (*xform)(myParams& p, int* sample, int* buffer, GLuint* program, PF_OutData* out_data);
};

// Blurs every copy in its blur buffer and draws it under those before it.
void DrawCopies(myParams& p, LocalGLStruct& gl, const Road& road, std::vector<Framebuffer>& blurFBs,
                Framebuffer& accumFB) {
    const bool rgba = p.rgbaPipeline;
    bool accumCleared = false;
    for (int i = 0; i < p.numSamples; ++i) {
        const perSampleData& s = p.samples.at(size_t(i));
        int k = s.bufferIndex;
        Framebuffer& blurFB = blurFBs.at(size_t(k));
        if (blurFB.m_empty) continue;

        road.source.BindTAO(PING);
        blurFB.BindFBO(PING, false);
        GLuint program = UseProgram(gl, rgba ? kScaledHorizontalBlurProgram : kScaledHorizontalBlurSingleProgram,
                                    p.out_data);
        road.horizontal(p, s, p.blurBuffers.at(size_t(k)));
        SendBlurWUniforms(p, &i, &k, &program);
        DrawQuad();

        blurFB.BindFBO(PONG, false);
        blurFB.BindTAO(PING);
        program = UseProgram(gl, rgba ? kVerticalBlurProgram : kVerticalBlurSingleProgram, p.out_data);
        p.stride = road.verticalStride(p);
        SendBlurHUniforms(p, &i, &k, &program);
        DrawQuad();

        program = UseProgram(gl, rgba ? kCopyProgram : kCopySingleProgram, p.out_data);
        road.xform(p, &i, &k, &program, p.out_data);
        // Cleared by the first copy drawn, which need not be copy 0.
        accumFB.BindFBO(PING, !accumCleared);
        accumCleared = true;
        blurFB.BindTAO(PONG);
        glEnable(GL_BLEND);
        DrawQuad();
        glDisable(GL_BLEND);
    }
    // No copy drawn: the read-back must still find a transparent buffer.
    if (!accumCleared) accumFB.BindFBO(PING, true);
}

// --- uniform helpers ---

const perSampleData& SampleAt(const myParams& p, const int* index) {
    if (index == nullptr) throw std::out_of_range("no sample index");
    return p.samples.at(size_t(*index));  // a negative index wraps and is refused too
}

const blurBufferSpec& BufferAt(const myParams& p, const int* index) {
    if (index == nullptr) throw std::out_of_range("no blur buffer index");
    return p.blurBuffers.at(size_t(*index));
}

GLuint ProgramName(const GLuint* program) {
    if (program == nullptr) throw std::out_of_range("no program");
    return *program;
}

// Translate(tx, ty, 0) · Scale(sx, sy, 1), column after column; handed over
// transposed, the transform vertex shader's row-vector product gives M · p.
void SendTranslateScale(GLuint program, float tx, float ty, float sx, float sy) {
    const float m[16] = {sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, 1, 0, tx, ty, 0, 1};
    glUniformMatrix4fv(glGetUniformLocation(program, "xform"), 1, GL_TRUE, m);
}

}  // namespace

void SendBlurWUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program) {
    const perSampleData& s = SampleAt(p, sampleIndex);
    const GLuint name = ProgramName(program);
    glUniform1f(glGetUniformLocation(name, "opacityF"), float(s.opacity));
    glUniform1i(glGetUniformLocation(name, "steps"), p.steps);
    glUniform1f(glGetUniformLocation(name, "stride"), p.stride);
    glUniform1f(glGetUniformLocation(name, "scaleW"), float(p.scaleW));
    glUniform1f(glGetUniformLocation(name, "scaleH"), float(p.scaleH));
    if (p.rgbaPipeline) {
        const PF_PixelFloat& c = p.fillMode == UF3_FILL_GRADIENT ? s.color : p.shadowColorF;
        glUniform4f(glGetUniformLocation(name, "colorF"), c.red, c.green, c.blue, float(p.fillInfluence));
    }
}

void SendBlurHUniforms(myParams& p, int*, int*, GLuint* program) {
    const GLuint name = ProgramName(program);
    glUniform1i(glGetUniformLocation(name, "steps"), p.steps);
    glUniform1f(glGetUniformLocation(name, "stride"), p.stride);
}

void SendXformUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program, PF_OutData*) {
    const perSampleData& s = SampleAt(p, sampleIndex);
    const blurBufferSpec& b = BufferAt(p, bufferIndex);
    const GLuint name = ProgramName(program);
    const PF_EffectWorld& out = Output(p);
    const double tx = s.offset[0] + p.shadowOffsetVector[0] + p.preRenderCopy.centreOffset[0];
    const double ty = s.offset[1] + p.shadowOffsetVector[1] + p.preRenderCopy.centreOffset[1];
    SendTranslateScale(name, float(2.0 * tx / out.width), float(2.0 * ty / out.height),
                       float(b.extent[0]) / float(out.width), float(b.extent[1]) / float(out.height));
}

void SendInnerXformUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program, PF_OutData*) {
    const perSampleData& s = SampleAt(p, sampleIndex);
    const blurBufferSpec& b = BufferAt(p, bufferIndex);
    const GLuint name = ProgramName(program);
    const PF_EffectWorld& out = Output(p);
    // The padded input is centred on the output; its padding may be uneven.
    const double dx = double(p.innerBoundsPx[2] - p.innerBoundsPx[0]);
    const double dy = double(p.innerBoundsPx[3] - p.innerBoundsPx[1]);
    const double tx = 2.0 * s.offset[0] + 2.0 * p.shadowOffsetVector[0] + dx;
    const double ty = 2.0 * s.offset[1] + 2.0 * p.shadowOffsetVector[1] + dy;
    const float sx = float(p.debugScale * double(float(b.extent[0]) / float(out.width)));
    const float sy = float(p.debugScale * double(float(b.extent[1]) / float(out.height)));
    SendTranslateScale(name, float(tx / out.width), float(ty / out.height), sx, sy);
}

PF_Err ProcOuterDirectional(myParams& p) {
    LocalGLStruct& gl = ThreadGL("directional road");
    PF_EffectWorld* in = p.input_worldP;
    PF_EffectWorld& out = Output(p);
    if (in == nullptr) throw UF_Err(PF_Err_BAD_CALLBACK_PARAM, "ProcOuterDirectional needs the input world");

    Framebuffer inputFB;
    const PF_Err err = UploadOrMarkEmpty(inputFB, in, p);
    const WorkFormat work = WorkingFormat(p);
    inputFB.m_name = "inTex";
    Framebuffer accumFB;
    accumFB.m_name = "outFBO";
    std::vector<Framebuffer> blurFBs = MakeBlurBuffers(p, work, true);
    InitOrMarkEmpty(accumFB, out.width, out.height, 1, p.bitdepth, work.internalFormat, work.format, kWorkType);
    if (inputFB.m_empty || accumFB.m_empty) {
        glFinish();
        return PF_Err_NONE;
    }

    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(gl.quadVAO);
    SetBlendFunction(p);
    // The horizontal pass samples the input in its own texels and maps the
    // buffer's extent onto it; the vertical one samples the buffer itself,
    // whose texels are 1 / qualityScale input pixels wide.
    const Road road{
        inputFB,
        [](myParams& q, const perSampleData& s, const blurBufferSpec& area) {
            SetBlurRadius(q, s.blur);
            q.stride = q.blur / float(q.steps);
            q.scaleW = float(area.extent[0]) / float(q.input_worldP->width);
            q.scaleH = float(area.extent[1]) / float(q.input_worldP->height);
        },
        [](const myParams& q) { return float(double(q.stride) * q.qualityScale); },
        &SendXformUniforms,
    };
    DrawCopies(p, gl, road, blurFBs, accumFB);

    // Freed before the final pass so that its buffer does not add to the peak.
    for (Framebuffer& fb : blurFBs) fb.CleanUp();
    inputFB.CleanUp();
    p.shadow_worldP = &out;
    ReadBack(p, gl, accumFB, work);
    return err;
}

PF_Err ProcInnerDirectional(myParams& p) {
    LocalGLStruct& gl = ThreadGL("directional road");
    PF_EffectWorld& out = Output(p);
    PF_EffectWorld* padded = &p.innerInputPadded.world;

    Framebuffer inputFB;
    const PF_Err err = UploadOrMarkEmpty(inputFB, padded, p);
    const WorkFormat work = WorkingFormat(p);
    std::vector<Framebuffer> blurFBs = MakeBlurBuffers(p, work, false);
    Framebuffer accumFB;
    InitOrMarkEmpty(accumFB, out.width, out.height, 1, p.bitdepth, work.internalFormat, work.format, kWorkType);
    const blurBufferSpec& first = p.blurBuffers.at(0);
    const bool deep = p.bitdepth == 32;
    Framebuffer invFB;
    InitOrMarkEmpty(invFB, first.size[0], first.size[1], 1, p.bitdepth, deep ? GL_R32F : GL_R8, GL_RED,
                    deep ? GL_FLOAT : GL_UNSIGNED_BYTE);
    if (inputFB.m_empty || invFB.m_empty || accumFB.m_empty) {
        glFinish();
        return PF_Err_NONE;
    }

    // 1 - coverage over buffer 0's area; beyond the padded input that is 1,
    // so the copies shade the layer's edges from outside.
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(gl.quadVAO);
    inputFB.BindTAO(PING);
    invFB.BindFBO(PING, true);
    const GLuint invert = UseProgram(gl, kInnerInvertProgram, p.out_data);
    glUniform1f(glGetUniformLocation(invert, "scaleW"), float(first.extent[0]) / float(padded->width));
    glUniform1f(glGetUniformLocation(invert, "scaleH"), float(first.extent[1]) / float(padded->height));
    DrawQuad();
    inputFB.CleanUp();
    SetBlendFunction(p);

    // Both blurs sample buffers at quality resolution.
    const Road road{
        invFB,
        [](myParams& q, const perSampleData& s, const blurBufferSpec& area) {
            SetBlurRadius(q, s.blur);
            q.stride = float(double(q.blur) * q.qualityScale / q.steps);
            const blurBufferSpec& base = q.blurBuffers.at(0);
            q.scaleW = float(area.size[0]) / float(base.size[0]);
            q.scaleH = float(area.size[1]) / float(base.size[1]);
        },
        [](const myParams& q) { return q.stride; },
        &SendInnerXformUniforms,
    };
    DrawCopies(p, gl, road, blurFBs, accumFB);

    for (Framebuffer& fb : blurFBs) fb.CleanUp();
    invFB.CleanUp();
    p.shadow_worldP = &p.innerShadowWorld.world;
    ReadBack(p, gl, accumFB, work);
    return err;
}
