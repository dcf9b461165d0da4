// The Raytraced road's passes: GPU resources and input upload, the jump-flood distance field
// of the input's alpha, and the ray-marched shading. Init_SD_Res, ProcJFA and ProcShadow are
// declared with the driver that calls them (UF3_ProcGPU.h).
#pragma once

#include "render/UF3_ProcGPU.h"

// Framebuffers 0 to 4 of the road at the sizes and formats the record asks for: input alpha,
// alpha at field resolution, the two field buffers, the shadow. Throws UF_Err as
// Framebuffer::FramebufferInit does; the buffers made so far stay with `sdBuffers`.
void AllocateSDBuffers(const myParams& p, SDBuffers& sdBuffers);

// Flood passes for a field of width x height: ceil(log2 of the larger side), 0 for one pixel.
int JumpFloodPassCount(int width, int height);
