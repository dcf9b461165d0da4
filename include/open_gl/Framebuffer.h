// The renderer's GPU images: one or two framebuffer objects each with one 2D colour texture,
// or a texture alone; uploads of host worlds into them and read-back into host worlds.
// Used on the render thread only, with that thread's context current.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "OpenGL/gl3.h"
#include "open_gl/GLObject.h"

class AEGP_SuiteHandler;

// A buffer of a ping-pong pair.
enum WHICH_BUFFER : int32_t { PING = 0, PONG = 1 };

// What a texture made from a host world holds: the render passes decide.
struct UploadSettings {
    int32_t bitdepth = 8;    // of the world's pixels: 8 or 32
    bool rgba = false;       // premultiplied colour, else the alpha alone
    bool mipmaps = false;    // for sampling it shrunk
    bool linearise = false;  // colour raised to the linear-light power before premultiplying
};

class Framebuffer {
public:
    // A new one is all zero: not initialised, no buffers.
    Framebuffer() = default;
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;
    // Moves hand the GL names over; the source is left empty.
    Framebuffer(Framebuffer&& other) noexcept { *this = std::move(other); }
    Framebuffer& operator=(Framebuffer&& other) noexcept;

    // `count` framebuffer/texture pairs of width × height, linear filtering, transparent
    // border. Throws UF_Err 515 on a failed precondition, 4 when a framebuffer is incomplete.
    bool FramebufferInit(int width, int height, int count, int bitdepth, int internalFormat, GLenum format,
                         GLenum type);

    // Throws UF_Err 515 with every failing check's message; sets m_empty for a zero size.
    bool FBO_PreInitCheckSuccess();

    // One texture holding the world as `settings` say, copied with the render's suites.
    // Returns 0 or a user cancel.
    PF_Err FBO_Init_PF_World(PF_LayerDef* world, const UploadSettings& settings, const AEGP_SuiteHandler* suites,
                             PF_InData* in_data);

    // The world's alpha into texture 0 of an allocated single-channel framebuffer of the
    // same size, bottom row first as OpenGL counts rows. Returns 0 or a user cancel.
    PF_Err FBO_Upload_Texture(PF_LayerDef* world, PF_InData* in_data);

    // The 1024 × 1024 noise texture from the red bytes of an RGBA byte table.
    bool NoiseTexInit(const unsigned char* table);

    GLuint GetFBO(WHICH_BUFFER which);
    GLuint GetTAO(WHICH_BUFFER which);
    // Binds the framebuffer for drawing with a viewport of its size, cleared when asked.
    void BindFBO(WHICH_BUFFER which, bool clear);
    // Binds the texture on the active unit.
    void BindTAO(WHICH_BUFFER which);

    // Releases the GL objects early; the object cannot be used again.
    void CleanUp(int unused = 0);

    bool m_init = false;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_count = 0;      // framebuffer/texture pairs; 0 for the noise texture
    int32_t m_bitdepth = 0;   // of the host pixels served: 8 or 32
    bool m_rgba = false;
    int32_t m_channels = 0;
    GLenum m_internalFormat = 0;
    GLenum m_format = 0;
    GLenum m_type = 0;
    uint64_t m_cpu_pixSize = 0;  // bytes per pixel of a staging copy
    bool m_empty = false;
    std::string m_name;
    std::vector<GLObject> m_fboV;
    std::vector<GLObject> m_taoV;
    PF_Handle m_bufferH = nullptr;  // only while an upload runs

private:
    // What the precondition check reads, and what follows from it, as one.
    using Layout =
        std::tuple<int32_t, int32_t, int32_t, int32_t, bool, int32_t, GLenum, GLenum, GLenum, uint64_t, bool>;
    auto LayoutFields() {
        return std::tie(m_width, m_height, m_count, m_bitdepth, m_rgba, m_channels, m_internalFormat, m_format,
                        m_type, m_cpu_pixSize, m_empty);
    }
    // Takes the new layout and runs the precondition check on it; a refused call leaves the
    // object as it was.
    void Relayout(int width, int height, int count, int bitdepth, GLenum internalFormat, GLenum format, GLenum type);
    // Names left by a failed allocation or CleanUp would shift every index.
    void DropNames();
};

// Reads width × height pixels at (x, y) of the framebuffer's attachment straight into the
// world's rows, as RGBA bytes (8) or floats (32): no channel reordering and no flip, so a
// texel's red lands in the host's alpha slot and GL row 0 in the world's top row.
void FBOtoEffectWorld(GLuint fbo, int bitdepth, PF_LayerDef* world, int x, int y, GLenum attachment);
