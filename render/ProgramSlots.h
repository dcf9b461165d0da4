// The effect's shader programs: which vertex and fragment text each slot links, and the
// order in which a render thread builds them.
#pragma once

#include <array>

// Slots 1 and 15 are never built.
enum ProgramSlot : int {
    kInnerInvertProgram = 0,
    kScaledHorizontalBlurSingleProgram = 2,
    kVerticalBlurSingleProgram = 3,
    kCopySingleProgram = 4,
    kScaledHorizontalBlurProgram = 5,
    kVerticalBlurProgram = 6,
    kCopyProgram = 7,
    kScaleProgram = 8,
    kHorizontalBlurProgram = 9,
    kColouriseProgram = 10,
    kJumpFloodProgram = 11,
    kShadowAlphaProgram = 12,
    kShadowColourProgram = 13,
    kFinalPassProgram = 14,
};

constexpr int kProgramSlotCount = 16;

// Zero-terminated texts; both null for a slot that is never built.
struct ProgramSources {
    const char* vertex = nullptr;
    const char* fragment = nullptr;
};
using ProgramSourceTable = std::array<ProgramSources, kProgramSlotCount>;

// The texts compiled into the effect, by slot.
const ProgramSourceTable& BuiltInProgramSources();

// Raytraced programs first: they take longest to compile.
constexpr std::array<int, 14> kProgramBuildOrder{
    kJumpFloodProgram, kShadowAlphaProgram, kShadowColourProgram, kFinalPassProgram,
    kScaleProgram, kHorizontalBlurProgram, kCopySingleProgram, kCopyProgram, kColouriseProgram,
    kInnerInvertProgram, kScaledHorizontalBlurSingleProgram, kVerticalBlurSingleProgram,
    kScaledHorizontalBlurProgram, kVerticalBlurProgram,
};
