#include "open_gl/Program.h"

#include <fstream>
#include <utility>

#include "shell/UF3.h"
#include "shell/UF3_Err.h"

namespace {

// Driver logs are cut here; the host's message buffer holds less anyway.
constexpr GLsizei kInfoLogSize = 512;

// Compiles one stage; a failure sends its log (or the refusal) to the host. A shader that
// failed to compile is returned too, so that it can still be attached.
GLObject CompileStage(GLenum stage, const char* source, PF_OutData* out_data) {
    GLObject shader;
    try {
        shader = GLObject(GLKind::kShader, "glCreateShader failed", stage);
    } catch (const UF_Err& e) {
        ::SendMessage(e.message, out_data);
        return shader;
    }
    if (shader.Compile(source)) return shader;
    char log[kInfoLogSize] = {};
    glGetShaderInfoLog(shader, kInfoLogSize, nullptr, log);
    ::SendMessage(log, out_data);
    return shader;
}

}  // namespace

void Program::SendMessage(std::string message, PF_OutData* out_data) {
    ::SendMessage(std::move(message), out_data);
}

bool Program::InitInternal(const char* vertexSource, const char* fragmentSource, PF_OutData* out_data) {
    // A slot that failed before keeps its program name; a retry must not leak it.
    Release();
    const GLObject vertex = CompileStage(GL_VERTEX_SHADER, vertexSource, out_data);
    const GLObject fragment = CompileStage(GL_FRAGMENT_SHADER, fragmentSource, out_data);
    try {
        m_program = GLObject(GLKind::kProgram, "glCreateProgram failed");
    } catch (const UF_Err& e) {
        SendMessage(e.message, out_data);
        return false;
    }
    glBindAttribLocation(m_program, 0, "geoPos");
    glBindAttribLocation(m_program, 1, "geoUVs");
    if (!m_program.Link(vertex, fragment)) {
        char log[kInfoLogSize] = {};
        glGetProgramInfoLog(m_program, kInfoLogSize, nullptr, log);
        SendMessage(log, out_data);
    }
    return initialised();
}

bool Program::InitExternal(std::string vertexPath, std::string fragmentPath, PF_OutData* out_data) {
    const std::string vertex = LoadShader(vertexPath + ".vs", out_data);
    const std::string fragment = LoadShader(fragmentPath + ".fs", out_data);
    return InitInternal(vertex.c_str(), fragment.c_str(), out_data);
}

std::string Program::LoadShader(std::string path, PF_OutData* out_data) {
    std::ifstream file(path);
    if (!file) {
        SendMessage("Unable to load shader: " + path, out_data);
        return {};
    }
    std::string text;
    for (std::string line; std::getline(file, line);) text += line + "\n";
    return text;
}

void Program::Use(PF_OutData* out_data) {
    if (initialised()) {
        glUseProgram(m_program);
    } else {
        SendMessage("Warning: called Use() on uninitialised Program", out_data);
    }
}
