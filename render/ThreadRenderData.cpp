#include "render/ThreadRenderData.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "open_gl/Context.h"
#include "open_gl/Quad.h"
#include "shell/UF3.h"
#include "shell/UF3_Err.h"

thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

namespace {

std::mutex g_glTurn;

// Whether the current context is Mesa's llvmpipe, whose contexts share one rasteriser.
bool SharesOneRasteriser() {
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return renderer != nullptr && std::strstr(renderer, "llvmpipe") != nullptr;
}

}  // namespace

std::unique_lock<std::mutex> GLTurn(const LocalGLStruct& record) {
    if (!record.takeTurns) return {};
    return std::unique_lock<std::mutex>(g_glTurn);
}

void tls_ctx_deleter::operator()(LocalGLStruct* record) const noexcept {
    if (record == nullptr) return;
    if (record->local_ctx != nullptr) {
        // A context going away finishes its work on the shared rasteriser, too.
        const std::unique_lock<std::mutex> turn = GLTurn(*record);
        // The objects are freed on this context; when it cannot be made current they are
        // only forgotten, and go with it.
        SetCurrentContext(record->local_ctx, false);
        DeleteQuad(&record->quadVAO, &record->quadVBO);
        for (Program& program : record->programs) program.Release();
        SetCurrentContext(nullptr, false);
        std::string ignored;
        DeleteContext(record->local_ctx, ignored);
    }
    delete record;
}

bool InitPrograms(std::array<Program, kProgramSlotCount>& programs, PF_OutData* out_data,
                  const ProgramSourceTable& sources) {
    bool allBuilt = true;
    for (const int slot : kProgramBuildOrder) {
        Program& program = programs[size_t(slot)];
        if (program.initialised()) continue;
        const ProgramSources& source = sources[size_t(slot)];
        if (!program.InitInternal(source.vertex, source.fragment, out_data)) allBuilt = false;
    }
    return allBuilt;
}

namespace {

bool QuadBuilt(const LocalGLStruct& record) { return record.quadVAO.Built() && record.quadVBO.Built(); }

bool Complete(const LocalGLStruct& record) {
    return QuadBuilt(record) &&
           std::all_of(kProgramBuildOrder.begin(), kProgramBuildOrder.end(),
                       [&](int slot) { return record.programs[size_t(slot)].initialised(); });
}

// Programs and quad, on the record's current context: whatever a refusal left unbuilt is
// built now, so that one refused object does not break the thread for good.
void BuildRenderData(LocalGLStruct& record, PF_OutData* out_data) {
    const bool programsBuilt = InitPrograms(record.programs, out_data);
    // The quad even when a program failed: the record stays, and later renders draw with it.
    const bool quadBuilt = QuadBuilt(record) || InitQuad(&record.quadVAO, &record.quadVBO);
    if (!programsBuilt) throw std::string("InitThreadLocalRenderData:!InitPrograms");
    if (!quadBuilt) throw std::string("InitThreadLocalRenderData:!InitQuad");
}

}  // namespace

void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* out_data) {
    // One thread at a time makes a context, compiles, or makes its context current here.
    static std::mutex tls_mutex;
    const std::lock_guard<std::mutex> lock(tls_mutex);

    if (local_render_data && local_render_data->local_ctx != nullptr) {
        SetCurrentContext(local_render_data->local_ctx, true);
        if (!Complete(*local_render_data)) BuildRenderData(*local_render_data, out_data);
        return;
    }

    // A record only ever stays on the thread with a context: one whose creation failed is
    // dropped, so the next render tries again instead of drawing with no context.
    std::unique_ptr<LocalGLStruct, tls_ctx_deleter> record(new LocalGLStruct{});
    std::string error;
    record->local_ctx = CreateContext(nullptr, nullptr, error);
    if (!error.empty()) {
        const std::string message = "CreateContext error" + error;
        SendMessage(message, out_data);
        LogError(message, nullptr);
    }
    if (record->local_ctx == nullptr) {
        local_render_data.reset();
        throw std::string("InitThreadLocalRenderData:!local_render_data->local_ctx");
    }
    SetCurrentContext(record->local_ctx, true);
    record->takeTurns = SharesOneRasteriser();
    local_render_data = std::move(record);
    BuildRenderData(*local_render_data, out_data);
}

LocalGLStruct& ThreadGL(const char* caller) {
    if (!local_render_data || local_render_data->local_ctx == nullptr)
        throw UF_Err(PF_Err_INVALID_CALLBACK, std::string(caller) + " called without the thread's OpenGL state");
    return *local_render_data;
}

GLuint UseProgram(LocalGLStruct& gl, ProgramSlot slot, PF_OutData* out_data) {
    Program& program = gl.programs[size_t(slot)];
    program.Use(out_data);
    return program.initialised() ? program.id() : 0;
}
