// Several threads, each with its own surfaceless EGL context kept across frames, drawing the
// same small frame over and over: per frame fresh textures and framebuffers, a few blurred
// copies blended into one buffer, the result read back and compared with the first frame.
// Plain EGL and GL only, none of the effect's code.
//
//   gl-threads-repro [threads=8] [frames=40] [copies=40]
//
// Mesa 22.3's llvmpipe dies in a draw (SIGSEGV) in about one run of four here, as the effect's
// render threads did before they took turns; REPRO_SURFACELESS=1 uses the surfaceless platform
// instead of the software device the CGL stand-in picks, and crashes too, less often.
// Exit status: 0 every frame alike, 1 a frame differed, 2 no context.
#ifndef EGL_NO_X11
#define EGL_NO_X11
#endif
#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kW = 200, kH = 100;

const char* kVertex = R"(#version 330 core
in vec3 geoPos;
in vec2 geoUVs;
uniform mat4 xform;
out vec2 uv;
void main() { gl_Position = vec4(geoPos, 1.0) * xform; uv = geoUVs; })";

const char* kBlur = R"(#version 330 core
in vec2 uv;
uniform sampler2D tex;
uniform int steps;
uniform vec2 axis;
out float colour;
void main() {
    vec2 texel = axis / vec2(textureSize(tex, 0));
    float sum = texture(tex, uv).r, weights = 1.0;
    for (int i = 1; i <= steps; ++i) {
        float w = exp(-0.5 * float(i * i) / float(steps * steps) / 0.06);
        sum += w * (texture(tex, uv + float(i) * texel).r + texture(tex, uv - float(i) * texel).r);
        weights += 2.0 * w;
    }
    colour = sum / weights;
})";

const char* kCopy = R"(#version 330 core
in vec2 uv;
uniform sampler2D tex;
out float colour;
void main() { colour = min(texture(tex, uv).r, 1.0); })";

EGLDisplay g_display = EGL_NO_DISPLAY;

// Mesa's software device, as the CGL stand-in picks it where no GPU is; else surfaceless.
bool OpenDisplay() {
    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    const auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    const auto queryDeviceString =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    if (getPlatformDisplay == nullptr) return false;
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (std::getenv("REPRO_SURFACELESS") == nullptr && queryDevices && queryDeviceString &&
        queryDevices(16, devices, &count)) {
        for (EGLint i = 0; i < count && g_display == EGL_NO_DISPLAY; ++i) {
            const char* extensions = queryDeviceString(devices[i], EGL_EXTENSIONS);
            if (extensions && std::strstr(extensions, "EGL_MESA_device_software"))
                g_display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        }
    }
    if (g_display == EGL_NO_DISPLAY)
        g_display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    return g_display != EGL_NO_DISPLAY && eglInitialize(g_display, &major, &minor) && eglBindAPI(EGL_OPENGL_API);
}

EGLContext MakeContext() {
    eglBindAPI(EGL_OPENGL_API);
    const EGLint attribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                              EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                              EGL_CONTEXT_OPENGL_FORWARD_COMPATIBLE, EGL_TRUE, EGL_NONE};
    return eglCreateContext(g_display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attribs);
}

GLuint Program(const char* fragment) {
    const auto stage = [](GLenum type, const char* source) {
        const GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        return shader;
    };
    const GLuint vs = stage(GL_VERTEX_SHADER, kVertex), fs = stage(GL_FRAGMENT_SHADER, fragment);
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, 0, "geoPos");
    glBindAttribLocation(program, 1, "geoUVs");
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    return program;
}

struct Target {
    GLuint fbo = 0, tex = 0;
    int w = 0, h = 0;
};

Target MakeTarget(int w, int h, GLenum internal, GLenum format, GLenum type) {
    Target t{0, 0, w, h};
    glGenFramebuffers(1, &t.fbo);
    glGenTextures(1, &t.tex);
    glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    glBindTexture(GL_TEXTURE_2D, t.tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal), w, h, 0, format, type, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.tex, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return t;
}

void Bind(const Target& t) {
    glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    glViewport(0, 0, t.w, t.h);
}

void Drop(Target& t) {
    glDeleteFramebuffers(1, &t.fbo);
    glDeleteTextures(1, &t.tex);
}

// One frame on the current context: the input square blurred and copied `copies` times,
// each copy moved a little further, the sum read back as 8-bit RGBA.
std::vector<unsigned char> Frame(GLuint blur, GLuint copy, GLuint vao, int copies) {
    std::vector<unsigned char> input(size_t(kW) * kH, 0);
    for (int y = 35; y < 65; ++y) std::memset(&input[size_t(y) * kW + 60], 255, 30);
    GLuint in = 0;
    glGenTextures(1, &in);
    glBindTexture(GL_TEXTURE_2D, in);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, kW);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kW, kH, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kW, kH, GL_RED, GL_UNSIGNED_BYTE, input.data());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

    Target ping = MakeTarget(kW, kH, GL_R16F, GL_RED, GL_UNSIGNED_SHORT);
    Target pong = MakeTarget(kW, kH, GL_R16F, GL_RED, GL_UNSIGNED_SHORT);
    Target sum = MakeTarget(kW, kH, GL_R16F, GL_RED, GL_UNSIGNED_SHORT);
    Bind(sum);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);

    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(vao);
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ONE);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < copies; ++i) {
        glUseProgram(blur);
        glUniformMatrix4fv(glGetUniformLocation(blur, "xform"), 1, GL_TRUE, identity);
        glUniform1i(glGetUniformLocation(blur, "steps"), 1 + i / 4);
        glUniform2f(glGetUniformLocation(blur, "axis"), 1, 0);
        Bind(ping);
        glBindTexture(GL_TEXTURE_2D, in);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
        glUniform2f(glGetUniformLocation(blur, "axis"), 0, 1);
        Bind(pong);
        glBindTexture(GL_TEXTURE_2D, ping.tex);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);

        glUseProgram(copy);
        const float shift[16] = {1, 0, 0, 2.0f * i / kW, 0, 1, 0, 2.0f * i / kH, 0, 0, 1, 0, 0, 0, 0, 1};
        glUniformMatrix4fv(glGetUniformLocation(copy, "xform"), 1, GL_FALSE, shift);
        Bind(sum);
        glBindTexture(GL_TEXTURE_2D, pong.tex);
        glEnable(GL_BLEND);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
        glDisable(GL_BLEND);
    }
    glFinish();
    std::vector<unsigned char> out(size_t(kW) * kH * 4);
    Bind(sum);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, kW, kH, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindVertexArray(0);
    glUseProgram(0);
    Drop(ping);
    Drop(pong);
    Drop(sum);
    glDeleteTextures(1, &in);
    glFinish();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 8;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 40;
    const int copies = argc > 3 ? std::atoi(argv[3]) : 40;
    if (!OpenDisplay()) {
        std::fprintf(stderr, "no surfaceless EGL display\n");
        return 2;
    }
    std::atomic<int> differing{0}, failed{0};
    std::barrier together(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            const EGLContext context = MakeContext();
            if (context == EGL_NO_CONTEXT || !eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
                ++failed;
                together.arrive_and_drop();
                return;
            }
            const GLuint blur = Program(kBlur), copy = Program(kCopy);
            const GLfloat quad[20] = {-1, -1, 0, 0, 0, -1, 1, 0, 0, 1, 1, 1, 0, 1, 1, 1, -1, 0, 1, 0};
            GLuint vao = 0, vbo = 0;
            glGenVertexArrays(1, &vao);
            glGenBuffers(1, &vbo);
            glBindVertexArray(vao);
            glBindBuffer(GL_ARRAY_BUFFER, vbo);
            glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
            glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 5 * sizeof(GLfloat), nullptr);
            glEnableVertexAttribArray(0);
            glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 5 * sizeof(GLfloat),
                                  reinterpret_cast<const void*>(3 * sizeof(GLfloat)));
            glEnableVertexAttribArray(1);
            glBindVertexArray(0);
            glBindBuffer(GL_ARRAY_BUFFER, 0);
            // Handed back between frames, as a render thread gives the host its context back.
            eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            together.arrive_and_wait();

            std::vector<unsigned char> first;
            for (int f = 0; f < frames; ++f) {
                eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, context);
                const std::vector<unsigned char> pixels = Frame(blur, copy, vao, copies);
                eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
                if (f == 0) first = pixels;
                else if (pixels != first) ++differing;
            }
            eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, context);
            glDeleteVertexArrays(1, &vao);
            glDeleteBuffers(1, &vbo);
            glDeleteProgram(blur);
            glDeleteProgram(copy);
            eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(g_display, context);
        });
    for (std::thread& w : workers) w.join();
    std::printf("%d threads x %d frames of %d copies: %d frames unlike their thread's first, %d threads without a "
                "context\n",
                threads, frames, copies, differing.load(), failed.load());
    return failed ? 2 : differing ? 1 : 0;
}
