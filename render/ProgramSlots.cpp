#include "render/ProgramSlots.h"

#include "render/shaders/ShaderSources.h"

const ProgramSourceTable& BuiltInProgramSources() {
    static const ProgramSourceTable table = [] {
        ProgramSourceTable t{};
        t[kInnerInvertProgram] = {kPassThroughVS, kInnerInvertFS};
        t[kScaledHorizontalBlurSingleProgram] = {kPassThroughVS, kScaledHorizontalBlurSingleFS};
        t[kVerticalBlurSingleProgram] = {kPassThroughVS, kVerticalBlurSingleFS};
        t[kCopySingleProgram] = {kTransformVS, kCopySingleFS};
        t[kScaledHorizontalBlurProgram] = {kPassThroughVS, kScaledHorizontalBlurFS};
        t[kVerticalBlurProgram] = {kPassThroughVS, kVerticalBlurFS};
        t[kCopyProgram] = {kTransformVS, kCopyFS};
        t[kScaleProgram] = {kPassThroughVS, kScaleFS};
        t[kHorizontalBlurProgram] = {kPassThroughVS, kHorizontalBlurFS};
        t[kColouriseProgram] = {kPassThroughVS, kColouriseFS};
        t[kJumpFloodProgram] = {kFullScreenVS, kJumpFloodFS};
        t[kShadowAlphaProgram] = {kFullScreenVS, kShadowAlphaFS};
        t[kShadowColourProgram] = {kFullScreenVS, kShadowColourFS};
        t[kFinalPassProgram] = {kPassThroughVS, kFinalPassFS};
        return t;
    }();
    return table;
}
