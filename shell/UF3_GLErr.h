// OpenGL error draining and the state reset that bracket the GPU work of a render.
#pragma once

#include <string>

#include "OpenGL/gl3.h"

// Where pending errors are read from. Always glGetError in the effect; tests hand in a
// sequence of their own, since drivers that keep a single error flag cannot hold two.
using GLErrorSource = GLenum (*)();

// The GL's name of an error code, or "UNKNOWN_GL_ERROR".
std::string GLEnumToString(GLenum error);

// Drains the pending errors, one message each: "<where> cleared pre-existing OpenGL error:
// <name> (0x<code>)". With throwError the first message is thrown as a std::string and the
// rest stay pending; otherwise each is logged.
void ClearThenLogExistingGLErrors(const std::string& where, bool throwError, GLErrorSource nextError = glGetError);

// Drains the pending errors, printing each message on its own line, and returns them run
// together ("" when none was pending).
std::string ClearThenReturnExistingGLErrors(const std::string& where, GLErrorSource nextError = glGetError);

// Reads every pending error, so that none is left for whoever looks next, and returns
// "<call> failed: <name> (0x<code>)" for the first ("" when none was pending). Right after a
// call that a driver out of memory may refuse, that names the refused call.
std::string TakeGLError(const std::string& call, GLErrorSource nextError = glGetError);

// TakeGLError, thrown as a UF_Err 4 when an error was pending: a frame that met a GL error is
// a failed frame.
void ThrowIfGLError(const std::string& call, GLErrorSource nextError = glGetError);

// Puts the bindings, pixel store and fixed-function state the passes touch back to the GL's
// defaults on the current context and waits for the GPU; with checkErrors, logs whatever
// errors are then pending under "CleanStateGL". Viewport, scissor, colour mask and texture
// units other than 0 are left alone.
void CleanStateGL(bool checkErrors);
