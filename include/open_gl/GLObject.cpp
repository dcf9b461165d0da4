#include "open_gl/GLObject.h"

#include <utility>

#include "shell/UF3.h"
#include "shell/UF3_GLErr.h"

namespace {

// How each kind is made and freed, by GLKind.
struct Calls {
    GLuint (*make)(GLenum stage);
    void (*free)(GLuint name);
};
constexpr Calls kCalls[] = {
    {[](GLenum) { GLuint n = 0; glGenTextures(1, &n); return n; }, [](GLuint n) { glDeleteTextures(1, &n); }},
    {[](GLenum) { GLuint n = 0; glGenFramebuffers(1, &n); return n; }, [](GLuint n) { glDeleteFramebuffers(1, &n); }},
    {[](GLenum) { GLuint n = 0; glGenVertexArrays(1, &n); return n; }, [](GLuint n) { glDeleteVertexArrays(1, &n); }},
    {[](GLenum) { GLuint n = 0; glGenBuffers(1, &n); return n; }, [](GLuint n) { glDeleteBuffers(1, &n); }},
    {[](GLenum stage) { return glCreateShader(stage); }, [](GLuint n) { glDeleteShader(n); }},
    {[](GLenum) { return glCreateProgram(); }, [](GLuint n) { glDeleteProgram(n); }},
};

[[noreturn]] void Refuse(GLenum target, std::string message) {
    if (target == GL_TEXTURE_2D) glBindTexture(target, 0);
    else glBindBuffer(target, 0);
    throw UF_Err(PF_Err_OUT_OF_MEMORY, std::move(message));
}

}  // namespace

GLObject::GLObject(GLKind kind, const std::string& refused, GLenum stage)
    : m_s{kind, kCalls[int(kind)].make(stage), CGLGetCurrentContext()} {
    // A zero name would bind the GL's default object and draw nothing.
    if (m_s.name == 0) throw UF_Err(PF_Err_OUT_OF_MEMORY, refused);
    m_s.built = kind == GLKind::kFramebuffer || kind == GLKind::kVertexArray;
}

GLObject& GLObject::operator=(GLObject&& other) noexcept {
    if (this != &other) {
        Reset();
        std::swap(m_s, other.m_s);
    }
    return *this;
}

void GLObject::Reset() noexcept {
    // On another context the name means another object, or nothing; without its own the
    // object went with its context.
    if (m_s.name != 0 && m_s.context != nullptr && CGLGetCurrentContext() == m_s.context) {
        kCalls[int(m_s.kind)].free(m_s.name);
    }
    m_s = State{m_s.kind};
}

bool GLObject::Built() const {
    if (m_s.name == 0 || !m_s.built) return false;
    if (m_s.kind != GLKind::kBuffer) return true;
    // A refusal read by someone else leaves the name looking whole: ask the GL.
    GLint bound = 0, size = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    glBindBuffer(GL_ARRAY_BUFFER, m_s.name);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    glBindBuffer(GL_ARRAY_BUFFER, GLuint(bound));
    return size == m_s.size;
}

void GLObject::BufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage,
                          const std::string& caller) {
    glBindBuffer(target, m_s.name);
    glBufferData(target, size, data, usage);
    m_s.built = false;
    if (std::string refused = TakeGLError(caller + " glBufferData"); !refused.empty()) Refuse(target, refused);
    m_s.built = true;
    m_s.size = size;
}

void GLObject::TexImage(GLint internalFormat, GLsizei width, GLsizei height, GLenum format, GLenum type,
                        const std::string& refused) {
    glBindTexture(GL_TEXTURE_2D, m_s.name);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, format, type, nullptr);
    // A driver out of memory leaves the level without storage, and an upload into it would
    // be lost without a word.
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    m_s.built = w == width && h == height;
    if (!m_s.built) Refuse(GL_TEXTURE_2D, refused);
}

void GLObject::TexSubImage(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels,
                           bool mipmaps, const std::string& caller) {
    glBindTexture(GL_TEXTURE_2D, m_s.name);
    // Refused with an error only: the texture would hold nothing, or sample nothing shrunk.
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, type, pixels);
    std::string refused = TakeGLError(caller + " glTexSubImage2D");
    if (refused.empty() && mipmaps) {
        glGenerateMipmap(GL_TEXTURE_2D);
        refused = TakeGLError(caller + " glGenerateMipmap");
    }
    if (!refused.empty()) Refuse(GL_TEXTURE_2D, refused);
}

bool GLObject::Compile(const char* source) {
    glShaderSource(m_s.name, 1, &source, nullptr);
    glCompileShader(m_s.name);
    GLint status = GL_FALSE;
    glGetShaderiv(m_s.name, GL_COMPILE_STATUS, &status);
    m_s.built = status == GL_TRUE;
    return m_s.built;
}

bool GLObject::Link(const GLObject& vertex, const GLObject& fragment) {
    for (GLuint stage : {GLuint(vertex), GLuint(fragment)})
        if (stage != 0) glAttachShader(m_s.name, stage);
    glLinkProgram(m_s.name);
    GLint status = GL_FALSE;
    glGetProgramiv(m_s.name, GL_LINK_STATUS, &status);
    for (GLuint stage : {GLuint(vertex), GLuint(fragment)})
        if (stage != 0) glDetachShader(m_s.name, stage);
    m_s.built = status == GL_TRUE && vertex.Built() && fragment.Built();
    return status == GL_TRUE;
}
