// The Standard renderer's directional light: the shadow is a stack of copies
// of the layer's coverage, each blurred by its own radius in two separable
// passes, moved along the light and drawn under the copies already there.
// The two roads themselves, ProcOuterDirectional (drop shadow) and
// ProcInnerDirectional (inner shadow), are declared with ProcGPU.
#pragma once

#include "AE_Effect.h"
#include "OpenGL/gl3.h"
#include "params/UF3_Params.h"

// Per-pass uniforms of those roads, set on `*program`, which must be the
// program in use (0 stands for a slot that never built). Locations are looked
// up at every call. A sample or buffer index that is read and lies outside
// p.samples or p.blurBuffers throws std::out_of_range, as does a null pointer.

// Horizontal blur: the copy's opacity, p.steps, p.stride, p.scaleW, p.scaleH
// and, on the colour pipeline, the fill colour with the fill influence.
void SendBlurWUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program);
// Vertical blur: p.steps and p.stride.
void SendBlurHUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program);
// "xform" placing blur buffer `bufferIndex` on the output for a drop shadow:
// extent-sized, centred on the output and moved by the copy's offset, the
// shadow offset and the pre-render centre offset.
void SendXformUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program, PF_OutData* out_data);
// "xform" for an inner shadow: moved by the copy's and the shadow's offset
// plus half the imbalance of the padding, scaled by the debug scale.
void SendInnerXformUniforms(myParams& p, int* sampleIndex, int* bufferIndex, GLuint* program,
                            PF_OutData* out_data);
