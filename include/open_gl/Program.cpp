#include "open_gl/Program.h"

#include <fstream>
#include <utility>

#include "OpenGL/OpenGL.h"
#include "shell/UF3_Err.h"

namespace {

// Driver logs are cut here; the host's message buffer holds less anyway.
constexpr GLsizei kInfoLogSize = 512;

// Compiles one stage; on failure sends its log and returns false. The shader object is
// returned even then, so the caller can still attach and delete it.
bool CompileStage(GLenum stage, const char* source, PF_OutData* out_data, GLuint& shader) {
    shader = glCreateShader(stage);
    if (shader == 0) {
        ::SendMessage("glCreateShader failed", out_data);
        return false;
    }
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status == GL_TRUE) return true;
    char log[kInfoLogSize] = {};
    glGetShaderInfoLog(shader, kInfoLogSize, nullptr, log);
    ::SendMessage(log, out_data);
    return false;
}

}  // namespace

Program::~Program() {
    // Deleting with no context current would be a GL call into nothing; the name dies with
    // its context anyway.
    if (id != 0 && CGLGetCurrentContext() != nullptr) glDeleteProgram(id);
    id = 0;
    initialised = false;
}

Program::Program(Program&& other) noexcept
    : initialised(std::exchange(other.initialised, false)), id(std::exchange(other.id, 0)) {}

Program& Program::operator=(Program&& other) noexcept {
    if (this != &other) {
        Release();
        initialised = std::exchange(other.initialised, false);
        id = std::exchange(other.id, 0);
    }
    return *this;
}

void Program::SendMessage(std::string message, PF_OutData* out_data) {
    ::SendMessage(std::move(message), out_data);
}

bool Program::InitInternal(const char* vertexSource, const char* fragmentSource, PF_OutData* out_data) {
    // A slot that failed before keeps its program name; a retry must not leak it.
    Release();
    initialised = true;

    GLuint vertex = 0;
    GLuint fragment = 0;
    if (!CompileStage(GL_VERTEX_SHADER, vertexSource, out_data, vertex)) initialised = false;
    if (!CompileStage(GL_FRAGMENT_SHADER, fragmentSource, out_data, fragment)) initialised = false;

    id = glCreateProgram();
    if (id == 0) {
        SendMessage("glCreateProgram failed", out_data);
        // 0 names no shader: deleting it is silently ignored.
        glDeleteShader(vertex);
        glDeleteShader(fragment);
        initialised = false;
        return false;
    }
    if (vertex != 0) glAttachShader(id, vertex);
    if (fragment != 0) glAttachShader(id, fragment);
    glBindAttribLocation(id, 0, "geoPos");
    glBindAttribLocation(id, 1, "geoUVs");
    glLinkProgram(id);
    GLint status = GL_FALSE;
    glGetProgramiv(id, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        char log[kInfoLogSize] = {};
        glGetProgramInfoLog(id, kInfoLogSize, nullptr, log);
        SendMessage(log, out_data);
        initialised = false;
    }

    if (vertex != 0) glDetachShader(id, vertex);
    if (fragment != 0) glDetachShader(id, fragment);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    return initialised;
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

void Program::Release() {
    if (id != 0) glDeleteProgram(id);
    id = 0;
    initialised = false;
}

void Program::Use(PF_OutData* out_data) {
    if (initialised) {
        glUseProgram(id);
    } else {
        SendMessage("Warning: called Use() on uninitialised Program", out_data);
    }
}
