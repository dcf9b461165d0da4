// A driver that runs out of objects on demand: the effect calls OpenGL directly, so the GL
// entry points that create objects are interposed in the test executable, and the n-th
// creation from the moment of arming is refused as a driver out of memory refuses it (a
// zero name, or a texture image never allocated).
#pragma once

namespace gl_refusal {

// Counts creations from now; the n-th (1 = the next) is refused, 0 only counts.
void Arm(long nth);
// Stops refusing and counting.
void Disarm();
// Creations counted since the last Arm.
long Created();
// Whether the armed refusal happened.
bool Refused();

}  // namespace gl_refusal
