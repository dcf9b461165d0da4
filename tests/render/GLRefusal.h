// A driver that runs out of memory on demand: the effect calls OpenGL directly, so GL entry
// points are interposed in the test executable.
//
// Objects: the n-th creation from a chosen moment is refused as a driver out of memory
// refuses it (a zero name, or a texture image never allocated, which also raises
// GL_OUT_OF_MEMORY).
//
// Storage and pixel transfers (glBufferData, glTexSubImage2D, glReadPixels,
// glBlitFramebuffer, glGenerateMipmap): the n-th call from a chosen moment on the calling
// thread is refused. A refused call does none of its work (the real call is skipped, so no
// storage, texel or pixel changes) and raises GL_OUT_OF_MEMORY. The error cannot come from
// the real driver: llvmpipe allocates from the process's memory and never refuses a small
// request, and an invalid call would raise another error, so glGetError is interposed too
// and answers the refusal's error first, on the context that was current when it was
// refused, then the driver's own. Transfers are counted on each thread apart, so that
// several render threads can each be refused at the same position of their own render.
#pragma once

namespace gl_refusal {

// The n-th creation from now (1 = the next), on any thread, is refused; 0 clears.
void Refuse(long nth);
// Creations asked for so far, refused ones included.
long Created();

// The n-th storage or transfer call from now on this thread (1 = the next) is refused; 0
// clears.
void RefuseTransfer(long nth);
// Storage and transfer calls this thread made so far, refused ones included.
long Transfers();
// The name of the call last refused on this thread, "" before any.
const char* LastRefusedTransfer();

}  // namespace gl_refusal
