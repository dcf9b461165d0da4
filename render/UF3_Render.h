// The smart render command: buffers, render record, work worlds, the thread's
// OpenGL state, the GPU passes, CPU compositing, and the catch frame that
// turns a failure inside them into a logged (and optionally drawn) message
// and the command's result.
#pragma once

#include <atomic>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "params/UF3_Params.h"

// The body of PF_Cmd_SMART_RENDER.
PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

// Makes this thread's context current with its programs and quad, and drains
// GL errors left pending. On failure it logs (and for a thrown text draws the
// text over the output) and returns false; it never lets an exception out,
// apart from one raised by that drawing itself.
bool AcquireContext(myParams& p);

// Test hook: when set, called with the render record at the start of the
// GPU stage, inside its catch group, so tests can raise any exception there
// without changing the road. Null in production.
using GPUStageHook = void (*)(myParams& p);
extern std::atomic<GPUStageHook> gGPUStageTestHook;
