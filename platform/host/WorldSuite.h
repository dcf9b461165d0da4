// Host worlds: pixel buffers at 8, 16 and 32 bits per channel, with padded
// rows as a host hands them out, and books of the worlds alive.
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_map>

#include "AE_EffectSuites.h"

namespace host {

class WorldTable {
public:
    static WorldTable& Instance();

    // `forEffect`: asked for through the world suite.
    PF_Err New(A_long width, A_long height, bool clear, PF_PixelFormat format, PF_EffectWorld* world,
               bool forEffect = false);
    PF_Err Dispose(PF_EffectWorld* world);
    PF_Err Format(const PF_EffectWorld* world, PF_PixelFormat* format) const;

    size_t Alive() const;
    long Misuses() const;
    long Allocations() const;  // worlds made so far
    // The n-th allocation from now (1 = the next) answers `err`; 0 clears. With PF_Err_NONE it
    // answers the effect success and hands out a world with no pixels. A process
    // starts with UMBRAFEX_HOST_FAIL_WORLD's n armed.
    void FailAllocation(long nth, PF_Err err = PF_Err_OUT_OF_MEMORY);
    void Reset();

    const PF_WorldSuite2* Suite() const { return &m_suite; }

    static size_t PixelSize(PF_PixelFormat format);

private:
    WorldTable();
    struct Block {
        void* memory;
        PF_PixelFormat format;
    };
    mutable std::mutex m_mutex;
    std::unordered_map<const void*, Block> m_blocks;  // keyed by the world's data pointer
    mutable long m_misuses = 0;
    long m_allocations = 0;
    long m_failIn = 0;
    PF_Err m_failErr = PF_Err_OUT_OF_MEMORY;
    PF_WorldSuite2 m_suite{};
};

}  // namespace host
