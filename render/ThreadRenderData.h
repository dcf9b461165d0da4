// Each render thread's own OpenGL state: a context made on its first GPU render, the
// effect's programs and the unit quad, all kept until the thread ends.
#pragma once

#include <array>
#include <memory>
#include <mutex>

#include "AE_Effect.h"
#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"
#include "open_gl/GLObject.h"
#include "open_gl/Program.h"
#include "render/ProgramSlots.h"

struct LocalGLStruct {
    CGLContextObj local_ctx = nullptr;
    std::array<Program, kProgramSlotCount> programs;  // by ProgramSlot
    GLObject quadVAO;
    GLObject quadVBO;
    // Mesa's llvmpipe crashes when contexts on several threads draw at once: every context of
    // the process feeds one rasteriser. There render threads take turns at their GL work.
    bool takeTurns = false;
};

// Tears a record down on its own thread: its GL objects, then its context. Leaves the
// thread with no current context.
struct tls_ctx_deleter {
    void operator()(LocalGLStruct* record) const noexcept;
};

// This thread's record; empty until its first InitThreadLocalRenderData.
extern thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

// Makes this thread's record exist with its context current, building context, programs and
// quad on the first call. Later calls make the context current again and build only what an
// earlier call failed to build. Throws a std::string:
// "InitThreadLocalRenderData:!local_render_data->local_ctx" when no context could be made
// (the next call tries again), "InitThreadLocalRenderData:!InitPrograms" when a program
// failed or "InitThreadLocalRenderData:!InitQuad" when the quad did (the record keeps what
// did build), or the CGL failure text.
void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* out_data);

// Held over one render's GL work, from its first draw to its glFinish: the process's one turn
// where the record's driver needs it, else no lock at all.
std::unique_lock<std::mutex> GLTurn(const LocalGLStruct& record);

// Builds every slot of `sources` that is not built yet, in kProgramBuildOrder; one failure
// does not stop the others. True when every slot attempted built.
bool InitPrograms(std::array<Program, kProgramSlotCount>& programs, PF_OutData* out_data,
                  const ProgramSourceTable& sources = BuiltInProgramSources());

// This thread's record for a pass that needs its OpenGL state; throws a UF_Err 515 naming
// `caller` when the thread has none.
LocalGLStruct& ThreadGL(const char* caller);

// Binds the slot's program and returns the name its uniforms are looked up on: 0 for a slot
// that never built, whose Use only warns.
GLuint UseProgram(LocalGLStruct& gl, ProgramSlot slot, PF_OutData* out_data);
