// A driver that runs out of objects on demand: the effect calls OpenGL directly, so the GL
// entry points that create objects are interposed in the test executable, and the n-th
// creation from a chosen moment is refused as a driver out of memory refuses it (a
// zero name, or a texture image never allocated).
#pragma once

namespace gl_refusal {

// The n-th creation from now (1 = the next) is refused; 0 clears.
void Refuse(long nth);
// Creations asked for so far, refused ones included.
long Created();

}  // namespace gl_refusal
