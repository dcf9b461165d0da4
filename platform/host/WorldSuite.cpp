#include "host/WorldSuite.h"

#include <cstdlib>
#include <cstring>

namespace host {

namespace {
// Rows are padded to this many bytes, so code that assumes width × pixel size
// for the row pitch reads the wrong pixels.
constexpr A_long kRowAlignment = 64;

PF_Err NewCB(void*, A_long w, A_long h, PF_Boolean clear, PF_PixelFormat format, PF_EffectWorld* world) {
    return WorldTable::Instance().New(w, h, clear, format, world, true);
}
PF_Err DisposeCB(void*, PF_EffectWorld* world) { return WorldTable::Instance().Dispose(world); }
PF_Err FormatCB(const PF_EffectWorld* world, PF_PixelFormat* format) {
    return WorldTable::Instance().Format(world, format);
}
}  // namespace

WorldTable& WorldTable::Instance() {
    static WorldTable table;
    return table;
}

WorldTable::WorldTable() {
    m_suite.PF_NewWorld = &NewCB;
    m_suite.PF_DisposeWorld = &DisposeCB;
    m_suite.PF_GetPixelFormat = &FormatCB;
    // The way a test arms FailAllocation in a process it starts, such as the renderer's.
    if (const char* nth = std::getenv("UMBRAFEX_HOST_FAIL_WORLD")) m_failIn = std::atol(nth);
}

size_t WorldTable::PixelSize(PF_PixelFormat format) {
    switch (format) {
        case PF_PixelFormat_ARGB32:
            return sizeof(PF_Pixel8);
        case PF_PixelFormat_ARGB64:
            return sizeof(PF_Pixel16);
        case PF_PixelFormat_ARGB128:
            return sizeof(PF_PixelFloat);
        default:
            return 0;
    }
}

PF_Err WorldTable::New(A_long width, A_long height, bool clear, PF_PixelFormat format, PF_EffectWorld* world,
                       bool forEffect) {
    if (!world) return PF_Err_BAD_CALLBACK_PARAM;
    *world = PF_EffectWorld{};
    size_t pixel = PixelSize(format);
    if (!pixel || width < 0 || height < 0) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard lock(m_mutex);
    // The host's own buffers are refused for memory only.
    if (m_failIn > 0 && --m_failIn == 0) return forEffect ? m_failErr : PF_Err_OUT_OF_MEMORY;
    size_t rowbytes = (size_t(width) * pixel + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    if (rowbytes == 0) rowbytes = kRowAlignment;
    size_t bytes = rowbytes * size_t(height > 0 ? height : 1);
    void* memory = std::aligned_alloc(kRowAlignment, bytes);
    if (!memory) return PF_Err_OUT_OF_MEMORY;
    // Uncleared worlds hold garbage, as a host's recycled buffers do.
    std::memset(memory, clear ? 0 : 0xCD, bytes);
    world->data = static_cast<PF_PixelPtr>(memory);
    world->rowbytes = A_long(rowbytes);
    world->width = width;
    world->height = height;
    world->extent_hint = {0, 0, width, height};
    world->world_flags = PF_WorldFlag_WRITEABLE | (format != PF_PixelFormat_ARGB32 ? PF_WorldFlag_DEEP : 0);
    world->pix_aspect_ratio = {1, 1};
    m_blocks[memory] = {memory, format};
    m_allocations++;
    return PF_Err_NONE;
}

PF_Err WorldTable::Dispose(PF_EffectWorld* world) {
    if (!world) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(world->data);
    if (it == m_blocks.end()) {
        m_misuses++;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    std::free(it->second.memory);
    m_blocks.erase(it);
    *world = PF_EffectWorld{};
    return PF_Err_NONE;
}

PF_Err WorldTable::Format(const PF_EffectWorld* world, PF_PixelFormat* format) const {
    if (!world || !format) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(world->data);
    if (it == m_blocks.end()) {
        *format = PF_PixelFormat_INVALID;
        m_misuses++;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *format = it->second.format;
    return PF_Err_NONE;
}

size_t WorldTable::Alive() const {
    std::lock_guard lock(m_mutex);
    return m_blocks.size();
}

long WorldTable::Misuses() const {
    std::lock_guard lock(m_mutex);
    return m_misuses;
}

long WorldTable::Allocations() const {
    std::lock_guard lock(m_mutex);
    return m_allocations;
}

void WorldTable::FailAllocation(long nth, PF_Err err) {
    std::lock_guard lock(m_mutex);
    m_failIn = nth;
    m_failErr = err;
}

void WorldTable::Reset() {
    std::lock_guard lock(m_mutex);
    for (auto& [data, block] : m_blocks) std::free(block.memory);
    m_blocks.clear();
    m_misuses = 0;
    m_allocations = 0;
    m_failIn = 0;
}

}  // namespace host
