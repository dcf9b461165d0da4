#include "render/GLRefusal.h"

#include <dlfcn.h>

#include <atomic>

#include "OpenGL/gl3.h"

namespace gl_refusal {
namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_count{0};
std::atomic<long> g_nth{0};
std::atomic<bool> g_refused{false};

// True when this creation is the one to refuse.
bool Refuse() {
    if (!g_armed.load()) return false;
    const long n = ++g_count;
    if (n != g_nth.load()) return false;
    g_refused = true;
    return true;
}

template <typename Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void Arm(long nth) {
    g_count = 0;
    g_nth = nth;
    g_refused = false;
    g_armed = true;
}
void Disarm() { g_armed = false; }
long Created() { return g_count.load(); }
bool Refused() { return g_refused.load(); }

}  // namespace gl_refusal

using gl_refusal::Real;
using gl_refusal::Refuse;

extern "C" {

GLuint glCreateShader(GLenum type) {
    static const auto real = Real<GLuint (*)(GLenum)>("glCreateShader");
    return Refuse() ? 0 : real(type);
}

GLuint glCreateProgram(void) {
    static const auto real = Real<GLuint (*)()>("glCreateProgram");
    return Refuse() ? 0 : real();
}

// The names of one call are made together: a refusal gives none of them.
#define UF_REFUSABLE_GEN(Name)                                              \
    void Name(GLsizei n, GLuint* names) {                                   \
        static const auto real = Real<void (*)(GLsizei, GLuint*)>(#Name);   \
        if (!Refuse()) return real(n, names);                               \
        for (GLsizei i = 0; i < n; ++i) names[i] = 0;                       \
    }
UF_REFUSABLE_GEN(glGenFramebuffers)
UF_REFUSABLE_GEN(glGenTextures)
UF_REFUSABLE_GEN(glGenVertexArrays)
UF_REFUSABLE_GEN(glGenBuffers)
#undef UF_REFUSABLE_GEN

// A refused image leaves the level unallocated: 0 wide and high.
void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const void* pixels) {
    static const auto real =
        Real<void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*)>("glTexImage2D");
    if (!Refuse()) real(target, level, internalformat, width, height, border, format, type, pixels);
}

}  // extern "C"
