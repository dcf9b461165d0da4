#include "render/GLRefusal.h"

#include <dlfcn.h>

#include <atomic>

#include "OpenGL/gl3.h"

namespace gl_refusal {
namespace {

std::atomic<long> g_count{0};
std::atomic<long> g_refuse{0};  // the count of the creation to refuse; 0: none

// Counts one creation; true when it is the one to refuse.
bool Refused() {
    const long n = ++g_count;
    return n == g_refuse.load();
}

template <typename Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void Refuse(long nth) { g_refuse = nth > 0 ? g_count.load() + nth : 0; }
long Created() { return g_count.load(); }

}  // namespace gl_refusal

using gl_refusal::Real;
using gl_refusal::Refused;

extern "C" {

GLuint glCreateShader(GLenum type) {
    static const auto real = Real<GLuint (*)(GLenum)>("glCreateShader");
    return Refused() ? 0 : real(type);
}

GLuint glCreateProgram(void) {
    static const auto real = Real<GLuint (*)()>("glCreateProgram");
    return Refused() ? 0 : real();
}

// The names of one call are made together: a refusal gives none of them.
#define UF_REFUSABLE_GEN(Name)                                              \
    void Name(GLsizei n, GLuint* names) {                                   \
        static const auto real = Real<void (*)(GLsizei, GLuint*)>(#Name);   \
        if (!Refused()) return real(n, names);                               \
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
    if (!Refused()) real(target, level, internalformat, width, height, border, format, type, pixels);
}

}  // extern "C"
