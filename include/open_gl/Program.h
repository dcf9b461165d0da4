// One linked GL program of the effect, built from a vertex and a fragment shader text.
#pragma once

#include <string>

#include "AE_Effect.h"
#include "OpenGL/gl3.h"
#include "open_gl/GLObject.h"

class Program {
public:
    // Copies at most 255 characters of message into the host's message buffer.
    void SendMessage(std::string message, PF_OutData* out_data);

    // Compiles both texts and links them, with geoPos at attribute 0 and geoUVs at 1. Every
    // failing stage leaves its log in the host's message buffer (the last one stays). The
    // program name stays in `id` even when linking failed. Returns the new `initialised`.
    bool InitInternal(const char* vertexSource, const char* fragmentSource, PF_OutData* out_data);

    // InitInternal with the texts read from vertexPath + ".vs" and fragmentPath + ".fs".
    bool InitExternal(std::string vertexPath, std::string fragmentPath, PF_OutData* out_data);

    // The file's lines, each followed by a newline; "" and a host message when unreadable.
    std::string LoadShader(std::string path, PF_OutData* out_data);

    void Release() { m_program.Reset(); }

    // Binds the program, or only warns the host when it never built.
    void Use(PF_OutData* out_data);

    // Both shaders compiled and the program linked.
    bool initialised() const { return m_program.Built(); }
    // The program name, 0 when none exists; a failed link keeps it.
    GLuint id() const { return m_program; }

private:
    GLObject m_program;
};
