// One GL name and what it was given. The guarantees live here: a refused name is a UF_Err 4
// with the caller's message, refused storage is a UF_Err 4 naming the call, and the name is
// freed on the context that made it, or only forgotten when another (or none) is current.
#pragma once

#include <string>
#include <utility>

#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"

enum class GLKind { kTexture, kFramebuffer, kVertexArray, kBuffer, kShader, kProgram };

class GLObject {
public:
    GLObject() = default;  // names nothing
    // A new name of `kind` (`stage`: a shader's type); UF_Err 4 `refused` when the GL gives none.
    GLObject(GLKind kind, const std::string& refused, GLenum stage = 0);
    ~GLObject() { Reset(); }
    // Moves hand the name over; the source names nothing.
    GLObject(GLObject&& other) noexcept { *this = std::move(other); }
    GLObject& operator=(GLObject&& other) noexcept;

    operator GLuint() const noexcept { return m_s.name; }

    // Named and given what it needs: a buffer its storage (as the GL still reports it), a
    // texture its level 0, a shader a compile, a program a link of compiled stages.
    bool Built() const;

    // Frees the name on its own context, else only forgets it.
    void Reset() noexcept;

    // Storage, checked right after the call; a refusal unbinds the target and throws UF_Err 4
    // "<caller> <call> failed: <error>" (for a texture level: `refused`). All leave it bound.
    void BufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage, const std::string& caller);
    // Level 0 of width × height with no data, on GL_TEXTURE_2D.
    void TexImage(GLint internalFormat, GLsizei width, GLsizei height, GLenum format, GLenum type,
                  const std::string& refused);
    // Pixels into the whole of level 0, then its mipmaps when asked.
    void TexSubImage(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels, bool mipmaps,
                     const std::string& caller);

    // Whether the shader compiled from the text (its log left to read).
    bool Compile(const char* source);
    // Whether the program linked from the stages that have names; detached again after.
    bool Link(const GLObject& vertex, const GLObject& fragment);

private:
    struct State {
        GLKind kind = GLKind::kTexture;
        GLuint name = 0;
        CGLContextObj context = nullptr;  // current when the name was made
        bool built = false;
        GLsizeiptr size = 0;  // a buffer's storage
    } m_s;
};
