// The GPU half of one smart render: the choice of road, the Standard
// point-light road, the driver level of the Raytraced road, and the final
// pass that turns an accumulated shadow into host pixels.
#pragma once

#include <array>

#include "AE_Effect.h"
#include "open_gl/Framebuffer.h"
#include "params/UF3_Params.h"

// Runs the road that renderer, light type and inner shadow choose, and reads
// its result back into a host world (set in p.shadow_worldP on the roads that
// make a shadow). Needs this thread's context current and its programs built
// (AcquireContext). A non-zero result means the caller must not composite.
// Framebuffer and program failures leave as UF_Err, with every GL object of
// the call already deleted.
PF_Err ProcGPU(myParams& p);

// The Standard point-light road: one blur chain over the input shrunk into a
// padded frame, drawn once per sample scaled about the light.
PF_Err ProcPointLight(myParams& p);

// What the Standard roads upload of a host world: colour where some of the source's own shows
// (and always for the point light), the alpha alone otherwise; mipmaps below High quality;
// linear light for a partly filled gradient that asks for it.
UploadSettings WorldUploadSettings(const myParams& p);

struct LocalGLStruct;

// The Standard roads' last pass: accum unpremultiplied, at the shadow's opacity and gamma,
// drawn into target and read back into p.shadow_worldP.
void StandardFinalPass(myParams& p, LocalGLStruct& gl, Framebuffer& accum, Framebuffer& target);

// Six buffers of the Raytraced road: input alpha, alpha at field size, the
// two field buffers, the shadow, the blue noise.
using SDBuffers = std::array<Framebuffer, 6>;

// Passes of the other roads, defined with those roads.
PF_Err ProcOuterDirectional(myParams& p);
PF_Err ProcInnerDirectional(myParams& p);
PF_Err Init_SD_Res(myParams& p, SDBuffers& sdBuffers);
void ProcJFA(myParams& p, SDBuffers& sdBuffers);
void ProcShadow(myParams& p, SDBuffers& sdBuffers);
