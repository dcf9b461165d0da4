// The renderer's GPU images: one or two framebuffer objects each with one 2D colour texture,
// or a texture alone; uploads of host worlds into them and read-back into host worlds.
// Used on the render thread only, with that thread's context current.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "OpenGL/gl3.h"
#include "params/UF3_Params.h"

// A buffer of a ping-pong pair.
enum WHICH_BUFFER : int32_t { PING = 0, PONG = 1 };

class Framebuffer {
public:
    // A new one is all zero: not initialised, no buffers.
    Framebuffer() = default;
    ~Framebuffer();
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;
    // Moves hand the GL names over; the source is left empty.
    Framebuffer(Framebuffer&& other) noexcept;
    Framebuffer& operator=(Framebuffer&& other) noexcept;

    // `count` framebuffer/texture pairs of width × height, linear filtering, transparent
    // border. Throws UF_Err 515 on a failed precondition, 4 when a framebuffer is incomplete.
    bool FramebufferInit(int width, int height, int count, int bitdepth, int internalFormat, GLenum format,
                         GLenum type);

    // Throws UF_Err 515 with every failing check's message; sets m_empty for a zero size.
    bool FBO_PreInitCheckSuccess();

    // One texture holding the world: premultiplied RGBA, or the alpha alone, as the render
    // needs; mipmapped for the three lowest quality presets. Returns 0 or a user cancel.
    PF_Err FBO_Init_PF_World(PF_LayerDef* world, myParams& params);

    // The world's alpha into texture 0 of an allocated single-channel framebuffer of the
    // same size, bottom row first as OpenGL counts rows. Returns 0 or a user cancel.
    PF_Err FBO_Upload_Texture(PF_LayerDef* world, myParams& params);

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
    std::vector<GLuint> m_fboV;
    std::vector<GLuint> m_taoV;
    PF_Handle m_bufferH = nullptr;  // only while an upload runs

private:
    struct Layout;
    Layout SaveLayout() const;
    void RestoreLayout(const Layout& layout);
    // Runs the precondition check on the layout just recorded; a refused call leaves the
    // object as it was.
    void CheckOrRestore(const Layout& previous);
    void DeleteNames();
};

// Reads width × height pixels at (x, y) of the framebuffer's attachment straight into the
// world's rows, as RGBA bytes (8) or floats (32): no channel reordering and no flip, so a
// texel's red lands in the host's alpha slot and GL row 0 in the world's top row.
void FBOtoEffectWorld(GLuint fbo, int bitdepth, PF_LayerDef* world, int x, int y, GLenum attachment);
