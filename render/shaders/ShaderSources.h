// The shader texts, compiled into the effect at build time from the .vs and .fs files beside
// this header (render/shaders/Shaders.cmake writes their definitions).
#pragma once

// Vertex shaders.
extern const char kPassThroughVS[];
extern const char kTransformVS[];
extern const char kFullScreenVS[];

// Fragment shaders of the Standard set and the final pass.
extern const char kFinalPassFS[];
extern const char kScaleFS[];
extern const char kHorizontalBlurFS[];
extern const char kVerticalBlurFS[];
extern const char kVerticalBlurSingleFS[];
extern const char kScaledHorizontalBlurFS[];
extern const char kScaledHorizontalBlurSingleFS[];
extern const char kCopyFS[];
extern const char kCopySingleFS[];
extern const char kColouriseFS[];
extern const char kInnerInvertFS[];

// Fragment shaders of the Raytraced set.
extern const char kJumpFloodFS[];
extern const char kShadowAlphaFS[];
extern const char kShadowColourFS[];
