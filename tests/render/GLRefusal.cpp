#include "render/GLRefusal.h"

#include <dlfcn.h>

#include <atomic>

#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"

namespace gl_refusal {
namespace {

std::atomic<long> g_count{0};
std::atomic<long> g_refuse{0};  // the count of the creation to refuse; 0: none

thread_local long t_transfers = 0;
thread_local long t_refuseTransfer = 0;  // this thread's count of the transfer to refuse; 0: none
thread_local const char* t_lastRefused = "";

// The error a refusal raised, and the context it was raised on.
thread_local GLenum t_pending = GL_NO_ERROR;
thread_local CGLContextObj t_pendingContext = nullptr;

void RaiseOutOfMemory() {
    // A driver keeps one flag per error: a second refusal before a read adds nothing.
    if (t_pending != GL_NO_ERROR && t_pendingContext == CGLGetCurrentContext()) return;
    t_pending = GL_OUT_OF_MEMORY;
    t_pendingContext = CGLGetCurrentContext();
}

// Counts one creation; true when it is the one to refuse.
bool Refused() {
    const long n = ++g_count;
    return n == g_refuse.load();
}

// Counts one storage or transfer call of this thread; true, with the error raised, when it
// is the one to refuse.
bool TransferRefused(const char* name) {
    if (++t_transfers != t_refuseTransfer) return false;
    t_lastRefused = name;
    RaiseOutOfMemory();
    return true;
}

template <typename Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void Refuse(long nth) { g_refuse = nth > 0 ? g_count.load() + nth : 0; }
long Created() { return g_count.load(); }

void RefuseTransfer(long nth) { t_refuseTransfer = nth > 0 ? t_transfers + nth : 0; }
long Transfers() { return t_transfers; }
const char* LastRefusedTransfer() { return t_lastRefused; }

}  // namespace gl_refusal

using gl_refusal::Real;
using gl_refusal::Refused;
using gl_refusal::TransferRefused;

extern "C" {

// The refusal's error first, on its own context, then the driver's.
GLenum glGetError(void) {
    static const auto real = Real<GLenum (*)()>("glGetError");
    using namespace gl_refusal;
    if (t_pending != GL_NO_ERROR && t_pendingContext == CGLGetCurrentContext()) {
        const GLenum error = t_pending;
        t_pending = GL_NO_ERROR;
        t_pendingContext = nullptr;
        return error;
    }
    return real();
}

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
    if (!Refused()) return real(target, level, internalformat, width, height, border, format, type, pixels);
    gl_refusal::RaiseOutOfMemory();
}

void glBufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage) {
    static const auto real = Real<void (*)(GLenum, GLsizeiptr, const void*, GLenum)>("glBufferData");
    if (!TransferRefused("glBufferData")) real(target, size, data, usage);
}

void glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width, GLsizei height,
                     GLenum format, GLenum type, const void* pixels) {
    static const auto real = Real<void (*)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum,
                                           const void*)>("glTexSubImage2D");
    if (!TransferRefused("glTexSubImage2D")) real(target, level, xoffset, yoffset, width, height, format, type, pixels);
}

void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, void* pixels) {
    static const auto real =
        Real<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*)>("glReadPixels");
    if (!TransferRefused("glReadPixels")) real(x, y, width, height, format, type, pixels);
}

void glBlitFramebuffer(GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1, GLint dstX0, GLint dstY0, GLint dstX1,
                       GLint dstY1, GLbitfield mask, GLenum filter) {
    static const auto real = Real<void (*)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield,
                                           GLenum)>("glBlitFramebuffer");
    if (!TransferRefused("glBlitFramebuffer"))
        real(srcX0, srcY0, srcX1, srcY1, dstX0, dstY0, dstX1, dstY1, mask, filter);
}

void glGenerateMipmap(GLenum target) {
    static const auto real = Real<void (*)(GLenum)>("glGenerateMipmap");
    if (!TransferRefused("glGenerateMipmap")) real(target);
}

}  // extern "C"
