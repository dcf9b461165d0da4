#include "open_gl/Framebuffer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF3_Colour.h"
#include "shell/UF3_GLErr.h"
#include "shell/UF_Handle.h"

namespace {

constexpr int kNoiseSize = 1024;
// Power applied to colour channels when the gradient is blended in linear light:
// in single precision at 8 bits, in double at 32.
constexpr double kLinearise = UF3_UPLOAD_GAMMA_DECODE;

[[noreturn]] void Throw(PF_Err code, std::string message) {
    throw UF_Err(code, std::move(message));
}

// On every way out of an upload: row length 0, which every other transfer assumes, and the
// alignment found on the way in, or the one asked for.
class UnpackState {
public:
    explicit UnpackState(GLint alignmentAfter = 0) {
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &m_alignment);
        if (alignmentAfter != 0) m_alignment = alignmentAfter;
        // A bound unpack buffer would turn our pointers into offsets into it.
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    }
    ~UnpackState() {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, m_alignment);
    }
    UnpackState(const UnpackState&) = delete;
    UnpackState& operator=(const UnpackState&) = delete;

private:
    GLint m_alignment = 4;
};

// What the iterate callbacks write into: a tightly packed width × height staging copy.
struct Staging {
    void* pixels;
    A_long width;
    A_long height;
    bool linear;  // linearise colour before premultiplying
    bool flip;    // host bottom row first

    // The slot index of pixel (x, y), or -1 when the host hands a pixel outside the world.
    int64_t Slot(A_long x, A_long y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return -1;
        const A_long row = flip ? height - 1 - y : y;
        return int64_t(row) * width + x;
    }
};

// An iterate callback that writes each pixel into its slot of the staging copy with `Write`.
template <typename Pixel, void (*Write)(const Staging&, int64_t slot, const Pixel& in)>
PF_Err ToStaging(void* refcon, A_long x, A_long y, Pixel* in, Pixel*) {
    const auto& s = *static_cast<const Staging*>(refcon);
    const int64_t slot = s.Slot(x, y);
    if (slot < 0) return PF_Err_BAD_CALLBACK_PARAM;
    Write(s, slot, *in);
    return PF_Err_NONE;
}

template <typename Pixel>
void AlphaOnly(const Staging& s, int64_t slot, const Pixel& in) {
    static_cast<decltype(in.alpha)*>(s.pixels)[slot] = in.alpha;
}

void Premultiply8(const Staging& s, int64_t slot, const PF_Pixel& in) {
    uint8_t* out = static_cast<uint8_t*>(s.pixels) + 4 * slot;
    const float a = in.alpha / 255.0f;
    if (a <= 0.0f) {
        std::fill(out, out + 4, uint8_t{0});
        return;
    }
    const auto channel = [&](A_u_char value) {
        float c = value / 255.0f;
        if (s.linear) c = std::pow(c, float(kLinearise));
        return static_cast<uint8_t>(std::min(255.0f, c * a * 255.0f));
    };
    out[0] = channel(in.red);
    out[1] = channel(in.green);
    out[2] = channel(in.blue);
    out[3] = in.alpha;
}

void PremultiplyFloat(const Staging& s, int64_t slot, const PF_PixelFloat& in) {
    float* out = static_cast<float*>(s.pixels) + 4 * slot;
    const float a = in.alpha;
    const auto channel = [&](float value) {
        const float c = std::max(0.0f, value);
        if (s.linear) return static_cast<float>(std::max(0.0, a * std::pow(double(c), kLinearise)));
        return std::max(0.0f, c * a);
    };
    out[0] = channel(in.red);
    out[1] = channel(in.green);
    out[2] = channel(in.blue);
    out[3] = a;
}

constexpr PF_IteratePixel8Func kAlphaOnly8 = ToStaging<PF_Pixel, AlphaOnly<PF_Pixel>>;
constexpr PF_IteratePixelFloatFunc kAlphaOnlyFloat = ToStaging<PF_PixelFloat, AlphaOnly<PF_PixelFloat>>;

// Walks the world (as source and destination) with the suite of the bit depth.
PF_Err IterateWorld(const AEGP_SuiteHandler& suites, PF_InData* in_data, int bitdepth, PF_LayerDef* world,
                    Staging& staging, PF_IteratePixel8Func pix8, PF_IteratePixelFloatFunc pixFloat) {
    if (bitdepth == 32) {
        return suites.IterateFloatSuite1()->iterate(in_data, 0, world->height, world, nullptr, &staging, pixFloat,
                                                    world);
    }
    return suites.Iterate8Suite1()->iterate(in_data, 0, world->height, world, nullptr, &staging, pix8, world);
}

// Binds the texture with level 0 of width × height (`refused` thrown when the driver gives
// it no storage), linear magnification, `minFilter`, and `wrap` on both axes.
void SetUpTexture(GLObject& texture, GLenum minFilter, GLenum wrap, GLint internalFormat, GLsizei width,
                  GLsizei height, GLenum format, GLenum type, const std::string& refused) {
    texture.TexImage(internalFormat, width, height, format, type, refused);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GLint(wrap));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GLint(wrap));
}

// The name at `index` of those below `limit`.
GLuint Lookup(bool init, const std::vector<GLObject>& names, size_t limit, int index, const char* uninitialised,
              const char* outOfRange) {
    if (!init) Throw(PF_Err_INVALID_CALLBACK, uninitialised);
    if (index < 0 || size_t(index) >= std::min(limit, names.size())) {
        Throw(PF_Err_INVALID_CALLBACK, outOfRange + std::to_string(index));
    }
    return names[size_t(index)];
}

std::string Resolution(const PF_LayerDef* world) {
    return std::to_string(world->width) + std::to_string(world->height);
}

}  // namespace

Framebuffer& Framebuffer::operator=(Framebuffer&& other) noexcept {
    if (this == &other) return *this;
    m_init = std::exchange(other.m_init, false);
    LayoutFields() = Layout(other.LayoutFields());
    other.LayoutFields() = Layout{};
    m_name = std::move(other.m_name);
    m_fboV = std::move(other.m_fboV);
    m_taoV = std::move(other.m_taoV);
    other.DropNames();
    m_bufferH = std::exchange(other.m_bufferH, nullptr);
    return *this;
}

void Framebuffer::Relayout(int width, int height, int count, int bitdepth, GLenum internalFormat, GLenum format,
                           GLenum type) {
    const Layout previous = LayoutFields();
    m_width = width;
    m_height = height;
    m_count = count;
    m_bitdepth = bitdepth;
    m_internalFormat = internalFormat;
    m_format = format;
    m_type = type;
    m_rgba = format != GL_RED;
    m_channels = m_rgba ? 4 : 1;
    m_cpu_pixSize = uint64_t(m_channels) * (bitdepth == 32 ? 4 : 1);
    try {
        FBO_PreInitCheckSuccess();
    } catch (...) {
        // A refused call must not resize a live object: its names would no longer match.
        LayoutFields() = previous;
        throw;
    }
}

void Framebuffer::DropNames() {
    m_fboV.clear();
    m_taoV.clear();
}

bool Framebuffer::FBO_PreInitCheckSuccess() {
    std::string message;
    if (m_init) message += "FBO init called on already allocated FBO";
    if (m_bufferH != nullptr) message += "Error: handle is already allocated";
    m_empty = m_width < 1 || m_height < 1;
    if (m_count != 1 && m_count != 2) message += "FBO init requested with either too many or too few buffers";
    if (m_bitdepth != 8 && m_bitdepth != 32) message += "FBO init requested with bad bitdepth";
    if (!message.empty()) Throw(PF_Err_INVALID_CALLBACK, message);
    return true;
}

bool Framebuffer::FramebufferInit(int width, int height, int count, int bitdepth, int internalFormat,
                                  GLenum format, GLenum type) {
    Relayout(width, height, count, bitdepth, GLenum(internalFormat), format, type);
    DropNames();
    // A refused name, image or attachment: the names made so far stay for the destructor.
    const std::string failed =
        "FramebufferInit failed, resolution: " + std::to_string(width) + "x" + std::to_string(height);
    for (int i = 0; i < count; ++i) {
        const GLObject& fbo = m_fboV.emplace_back(GLKind::kFramebuffer, failed);
        GLObject& texture = m_taoV.emplace_back(GLKind::kTexture, failed);
        // Samples outside read the default border: transparent black.
        SetUpTexture(texture, GL_LINEAR, GL_CLAMP_TO_BORDER, internalFormat, width, height, format, type, failed);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        if (status != GL_FRAMEBUFFER_COMPLETE) Throw(PF_Err_OUT_OF_MEMORY, failed);
    }
    m_init = true;
    return true;
}

PF_Err Framebuffer::FBO_Init_PF_World(PF_LayerDef* world, const UploadSettings& settings,
                                      const AEGP_SuiteHandler* suites, PF_InData* in_data) {
    if (world == nullptr || suites == nullptr) {
        Throw(PF_Err_BAD_CALLBACK_PARAM, "Framebuffer::FBO_Init_PF_World needs a world and the render's suites");
    }
    const bool deep = settings.bitdepth == 32;
    Relayout(world->width, world->height, 1, settings.bitdepth,
             settings.rgba ? (deep ? GL_RGBA32F : GL_RGBA8) : (deep ? GL_R32F : GL_R8),
             settings.rgba ? GL_RGBA : GL_RED, deep ? GL_FLOAT : GL_UNSIGNED_BYTE);

    const std::string sizes = Resolution(world) + ", bitdepth of: " + std::to_string(m_cpu_pixSize);
    // The staging copy: unlocked and disposed on every way out, and m_bufferH names it meanwhile.
    const uint64_t bytes = uint64_t(m_width) * uint64_t(m_height) * m_cpu_pixSize;
    UF_Handle staging = UF_Handle::New(suites->HandleSuite1(), bytes);
    staging.RecordIn(m_bufferH);
    if (!staging) Throw(PF_Err_OUT_OF_MEMORY, "Framebuffer::FBO_Init_PF_World failed with res: " + sizes);
    const UF_HandleLock locked(suites->HandleSuite1(), staging.get());
    if (!locked)
        Throw(PF_Err_OUT_OF_MEMORY, "Framebuffer::FBO_Init_PF_World failed to lock bufferP with res: " + sizes);
    void* pixels = locked.As<void>();

    DropNames();
    const UnpackState unpack;
    GLObject& texture =
        m_taoV.emplace_back(GLKind::kTexture, "Framebuffer::FBO_Init_PF_World glGenTextures failed with res: " + sizes);
    SetUpTexture(texture, settings.mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR, GL_CLAMP_TO_BORDER,
                 GLint(m_internalFormat), m_width, m_height, m_format, m_type,
                 "Framebuffer::FBO_Init_PF_World glTexImage2D failed with res: " + sizes);
    glPixelStorei(GL_UNPACK_ALIGNMENT, m_channels);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, m_width);

    Staging copy{pixels, m_width, m_height, settings.linearise, false};
    const PF_Err err = IterateWorld(*suites, in_data, m_bitdepth, world, copy,
                                    m_rgba ? ToStaging<PF_Pixel, Premultiply8> : kAlphaOnly8,
                                    m_rgba ? ToStaging<PF_PixelFloat, PremultiplyFloat> : kAlphaOnlyFloat);
    texture.TexSubImage(m_width, m_height, m_format, m_type, pixels, settings.mipmaps,
                        "Framebuffer::FBO_Init_PF_World");
    glBindTexture(GL_TEXTURE_2D, 0);
    m_init = true;

    if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) Throw(err, "Framebuffer::FBO_Init_PF_World iterate() err");
    return err;
}

PF_Err Framebuffer::FBO_Upload_Texture(PF_LayerDef* world, PF_InData* in_data) {
    if (!m_init || world == nullptr || world->width != m_width || world->height != m_height || m_fboV.empty() ||
        m_taoV.empty()) {
        Throw(PF_Err_INVALID_CALLBACK, "FBO_Upload_Texture was either NOT init or passed effect world of different dims");
    }
    if (in_data == nullptr) Throw(PF_Err_BAD_CALLBACK_PARAM, "FBO_Upload_Texture needs the render's in_data");
    // The staging copy is sized and typed by this framebuffer's texels, which is what the GL
    // reads back out of it.
    const bool deep = m_bitdepth == 32;
    if (m_channels != 1 || m_type != (deep ? GL_FLOAT : GL_UNSIGNED_BYTE)) {
        Throw(PF_Err_INVALID_CALLBACK, "FBO_Upload_Texture needs a single-channel FBO of bytes (8) or floats (32)");
    }

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    glBindTexture(GL_TEXTURE_2D, m_taoV[0]);
    const struct Unbind {
        ~Unbind() { glBindTexture(GL_TEXTURE_2D, 0); }
    } unbind;
    UF_Handle staging = UF_Handle::New(suites.HandleSuite1(), uint64_t(m_width) * uint64_t(m_height) * m_cpu_pixSize);
    staging.RecordIn(m_bufferH);
    if (!staging) Throw(PF_Err_OUT_OF_MEMORY, "FBO::FBO_Upload_Texture: !bufferH with dims " + Resolution(world));
    const UF_HandleLock locked(suites.HandleSuite1(), staging.get());
    if (!locked) Throw(PF_Err_OUT_OF_MEMORY, "FBO::FBO_Upload_Texture: !bufferP with dims " + Resolution(world));
    void* pixels = locked.As<void>();

    const UnpackState unpack(4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, m_width);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    Staging copy{pixels, m_width, m_height, false, true};
    const PF_Err err = IterateWorld(suites, in_data, m_bitdepth, world, copy, kAlphaOnly8, kAlphaOnlyFloat);
    m_taoV[0].TexSubImage(m_width, m_height, m_format, m_type, pixels, false, "Framebuffer::FBO_Upload_Texture");
    if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) Throw(err, "Framebuffer::FBO_Upload_Texture iterate() err");
    return err;
}

bool Framebuffer::NoiseTexInit(const unsigned char* table) {
    if (!m_taoV.empty()) Throw(PF_Err_INVALID_CALLBACK, "Framebuffer::NoiseTexInit already have vector resource");
    if (table == nullptr) Throw(PF_Err_BAD_CALLBACK_PARAM, "Framebuffer::NoiseTexInit given no table");
    GLObject& texture =
        m_taoV.emplace_back(GLKind::kTexture, "Framebuffer::NoiseTexInit glGenTextures(1, &m_taoV.at(0)) failed");
    const UnpackState unpack;
    // Rows of the table are exactly 1024 pixels apart.
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    SetUpTexture(texture, GL_LINEAR, GL_CLAMP_TO_EDGE, GL_R8, kNoiseSize, kNoiseSize, GL_RED, GL_UNSIGNED_BYTE,
                 "Framebuffer::NoiseTexInit glTexImage2D failed");
    // Handed over as RGBA: the R8 texture keeps each pixel's first byte.
    texture.TexSubImage(kNoiseSize, kNoiseSize, GL_RGBA, GL_UNSIGNED_BYTE, table, false, "Framebuffer::NoiseTexInit");
    glBindTexture(GL_TEXTURE_2D, 0);
    m_width = kNoiseSize;
    m_height = kNoiseSize;
    m_init = true;
    return true;
}

GLuint Framebuffer::GetFBO(WHICH_BUFFER which) {
    // A texture made from a world or the noise table has no framebuffer at any index.
    return Lookup(m_init, m_fboV, size_t(std::max(m_count, 0)), which, "called GetFBO() on uninitialised FBO",
                  "called GetFBO() with buffer index out of range: ");
}

GLuint Framebuffer::GetTAO(WHICH_BUFFER which) {
    return Lookup(m_init, m_taoV, m_taoV.size(), which, "called GetTAO() on uninitialised FBO/TAO",
                  "called GetTAO() with buffer index out of range: ");
}

void Framebuffer::BindFBO(WHICH_BUFFER which, bool clear) {
    glBindFramebuffer(GL_FRAMEBUFFER, Lookup(m_init, m_fboV, size_t(std::max(m_count, 0)), which,
                                             "called BindFBO() on uninitialised FBO",
                                             "called BindFBO() with buffer index out of range: "));
    glViewport(0, 0, m_width, m_height);
    if (clear) {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
}

void Framebuffer::BindTAO(WHICH_BUFFER which) {
    glBindTexture(GL_TEXTURE_2D, Lookup(m_init, m_taoV, m_taoV.size(), which,
                                        "called bindTAO() on uninitialised FBO/TAO",
                                        "called bindTAO() with index out of range: "));
}

void Framebuffer::CleanUp(int) {
    for (GLObject& fbo : m_fboV) fbo.Reset();
    for (GLObject& tao : m_taoV) tao.Reset();
    m_init = false;
    m_width = 0;
    m_height = 0;
}

void FBOtoEffectWorld(GLuint fbo, int bitdepth, PF_LayerDef* world, int x, int y, GLenum attachment) {
    glFinish();
    if (world == nullptr || world->width < 1 || world->height < 1) return;
    const A_long pixelSize = bitdepth == 32 ? 16 : 4;
    // The GL writes whole rows of width pixels at the world's pitch: a pitch too short for
    // that (a world of another depth) would write past its end.
    if (world->data == nullptr || world->rowbytes < world->width * pixelSize || world->rowbytes % pixelSize != 0) {
        Throw(PF_Err_INVALID_CALLBACK, "FBOtoEffectWorld: world rows cannot hold " + std::to_string(world->width) +
                                           " pixels of bitdepth " + std::to_string(bitdepth));
    }
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glReadBuffer(attachment);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, world->rowbytes / pixelSize);
    glReadPixels(x, y, world->width, world->height, GL_RGBA, bitdepth == 32 ? GL_FLOAT : GL_UNSIGNED_BYTE,
                 world->data);
    // A refused read leaves the world as it was: a frame the GPU never drew.
    const std::string refused = TakeGLError("FBOtoEffectWorld glReadPixels");
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!refused.empty()) Throw(PF_Err_OUT_OF_MEMORY, refused);
}
