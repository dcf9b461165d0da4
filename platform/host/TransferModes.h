// Transfer-mode maths shared by transfer_rect and transform_world.
//
// Pixels are straight alpha in float, 0..1 per channel. With source colour cs,
// alpha as, destination cd, ad, o = opacity / 255 and as' = as·o, the
// separable and non-separable modes composite as
//   ao = as' + ad(1 − as')
//   co = (as'(1 − ad)·cs + as'·ad·B(cd, cs) + (1 − as')·ad·cd) / ao   (0 when ao = 0)
// except that, taking whole pixels as they are, a layer adding nothing
// (as' = 0) leaves the destination, and a full-opacity layer over a
// transparent destination (ad = 0) is the source; with B per mode:
//   IN_FRONT                   cs
//   ADD, LINEAR_DODGE          min(1, cd + cs)
//   MULTIPLY                   cd·cs
//   SCREEN                     cd + cs − cd·cs
//   OVERLAY                    HARD_LIGHT with cd and cs swapped
//   SOFT_LIGHT                 cs ≤ ½: cd − (1 − 2cs)·cd(1 − cd); else cd + (2cs − 1)(D(cd) − cd),
//                              D(c) = c ≤ ¼ ? ((16c − 12)c + 4)c : √c
//   HARD_LIGHT                 cs ≤ ½: cd·2cs; else SCREEN(cd, 2cs − 1)
//   DARKEN / LIGHTEN           min(cd, cs) / max(cd, cs)
//   DIFFERENCE, DIFFERENCE2    |cd − cs|
//   EXCLUSION                  cd + cs − 2cd·cs
//   COLOR_DODGE(2)             cd = 0: 0; cs ≥ 1: 1; else min(1, cd / (1 − cs))
//   COLOR_BURN(2)              cd ≥ 1: 1; cs ≤ 0: 0; else 1 − min(1, (1 − cd) / cs)
//                              (the classic and the numbered variants share one formula here)
//   LINEAR_BURN                max(0, cd + cs − 1)
//   LINEAR_LIGHT               clamp(cd + 2cs − 1, 0, 1)
//   VIVID_LIGHT                cs ≤ ½: COLOR_BURN(cd, 2cs); else COLOR_DODGE(cd, 2cs − 1)
//   PIN_LIGHT                  cs ≤ ½: min(cd, 2cs); else max(cd, 2cs − 1)
//   HARD_MIX                   cd + cs ≥ 1 ? 1 : 0
//   SUBTRACT                   max(0, cd − cs)
//   DIVIDE                     cs = 0: 1; else min(1, cd / cs)
//   HUE                        SetLum(SetSat(Cs, Sat(Cd)), Lum(Cd))
//   SATURATION                 SetLum(SetSat(Cd, Sat(Cs)), Lum(Cd))
//   COLOR                      SetLum(Cs, Lum(Cd))
//   LUMINOSITY                 SetLum(Cd, Lum(Cs))
//   LIGHTER_COLOR              Lum(Cs) > Lum(Cd) ? Cs : Cd   (ties keep the destination)
//   DARKER_COLOR               Lum(Cs) < Lum(Cd) ? Cs : Cd   (ties keep the destination)
// where Lum = 0.3R + 0.59G + 0.11B and Sat = max − min.
//
// Modes with their own rule:
//   NONE                       destination unchanged
//   COPY                       (cs, as')
//   BEHIND                     destination over source: ao = ad + as'(1 − ad), co = (ad·cd + as'(1 − ad)·cs) / ao
//   DISSOLVE                   Noise(x, y, seed) < as' ? (cs, 1) : destination
//   MULTIPLY_ALPHA             (cd, ad·as')
//   MULTIPLY_ALPHA_LUMA        (cd, ad·Lum(Cs)·as')
//   MULTIPLY_NOT_ALPHA         (cd, ad·(1 − as'))
//   MULTIPLY_NOT_ALPHA_LUMA    (cd, ad·(1 − Lum(Cs)·as'))
//   ALPHA_ADD                  ao = min(1, as' + ad), co = (as'·cs + ad·cd) / (as' + ad)   (0 when both are 0)
//   ADDITIVE_PREMUL            ao = as' + ad(1 − as'), co = min(1, min(1, as'·cs + ad·cd) / ao)
//
// rgb_only keeps the destination alpha; only the colour channels take the result. The four
// MULTIPLY_*ALPHA* modes, which change nothing but alpha, ignore it.
// 8-bit pixels convert to float (/255), blend, and round to nearest with clamping.
#pragma once

#include "AE_Effect.h"

namespace host {

bool IsKnownTransferMode(PF_TransferMode mode);

float Luminosity(float r, float g, float b);

// Deterministic per-pixel value in [0, 1) for DISSOLVE.
float DissolveNoise(A_long x, A_long y, A_long seed);

// Composites src onto dst for the pixel at (x, y) of the destination (only
// DISSOLVE looks at the position). premultiplied: both pixels, and the
// result, hold premultiplied colours; the blend itself runs on straight colours.
// An unknown mode leaves the destination as it is.
PF_PixelFloat Composite(const PF_PixelFloat& src, const PF_PixelFloat& dst, const PF_CompositeMode& mode, A_long x,
                        A_long y, bool premultiplied = false);
PF_Pixel Composite(const PF_Pixel& src, const PF_Pixel& dst, const PF_CompositeMode& mode, A_long x, A_long y,
                   bool premultiplied = false);

}  // namespace host
