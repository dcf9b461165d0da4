// The host's pixel services: fill, copy, transfer_rect, transform_world and
// the iterate callbacks, with the suite tables that carry them.
//
// Worlds without PF_WorldFlag_DEEP are 8-bit; deep worlds take their format
// from the WorldTable (16-bit worlds are served by fill, copy and
// transfer_rect / transform_world, not by iterate). Coordinates are buffer
// pixels: origin_x/y and the field are not looked at.
#pragma once

#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"

namespace host {

// Null color: transparent black. Null rect: the whole world. The rect is
// clipped to the world; deep worlds take the colour as c / 255.
PF_Err Fill(void* effect_ref, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world);

// Null rects: whole worlds. Equal-size rects copy pixel for pixel (converting
// depth when the formats differ); differing sizes resample the source rect
// bilinearly onto the destination rect, clamping at the edges of the source
// rect, on the stored channel values as they are.
PF_Err Copy(void* effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);

// Composites src_rect of src (null: whole) with its top-left at (dest_x,
// dest_y) of dst, through the transfer modes. m_flags PF_MF_Alpha_STRAIGHT:
// pixels are straight; otherwise premultiplied. The mask is not applied.
PF_Err TransferRect(void* effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                    const PF_Rect* src_rect, const PF_EffectWorld* src, const PF_CompositeMode* comp,
                    const PF_MaskWorld* mask0, A_long dest_x, A_long dest_y, PF_EffectWorld* dst);

// composite_rect of the older callbacks: TransferRect at full quality with
// opacity src_opacity (0..255) and no rgb_only.
PF_Err CompositeRect(void* effect_ref, PF_Rect* src_rect, A_long src_opacity, PF_EffectWorld* src, A_long dest_x,
                     A_long dest_y, PF_Field field, PF_TransferMode xfer, PF_EffectWorld* dst);

// Row-vector points, [x y 1]·M, using the first matrix. Each destination pixel
// centre in dest_rect (null: whole dst) maps back into the source, which is
// sampled bilinearly at PF_Quality_HI and nearest otherwise; outside the
// source is transparent. A singular matrix is PF_Err_BAD_CALLBACK_PARAM.
PF_Err TransformWorld(void* effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                      const PF_EffectWorld* src, const PF_CompositeMode* comp, const PF_MaskWorld* mask0,
                      const PF_FloatMatrix* matrices, A_long num_matrices, PF_Boolean src2dst,
                      const PF_Rect* dest_rect, PF_EffectWorld* dst);

// pix_fn(refcon, x, y, in, out) for every pixel of area (null: whole dst).
// With src, in is the src pixel at the same (x, y) and the area is clipped to
// both worlds; without, in and out are both the dst pixel. Rows run in
// parallel; the first non-zero return stops the work and is returned.
// in_data and the progress range are not used: interrupts come from
// SetIterateCancelAfterRows.
PF_Err Iterate8(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
PF_Err IterateFloat(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                    const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);

// fn(refcon, thread_index, i, iterations) for i in [0, iterations), in
// parallel; iterations -1 means once per worker thread.
PF_Err IterateGeneric(A_long iterations, void* refcon,
                      PF_Err (*fn)(void* refcon, A_long thread_index, A_long i, A_long iterations));

// Interrupt injection: the next iterate call returns PF_Interrupt_CANCEL once
// about this many rows are done (0: off). The setting is spent by that call.
void SetIterateCancelAfterRows(long rows);
// The n-th iterate call from now (1 = the next) is cancelled after its first row; 0 clears.
void SetIterateCancelAt(long nth);
// The n-th iterate call from now (1 = the next) hands the callback, after its area, a pixel
// just right of it, as a faulty host would; 0 clears.
void SetIterateStrayAt(long nth);
long IterateCalls();  // iterate calls so far
// Worker threads for iterate, iterate_generic and the compositing calls:
// 1 runs them on one thread, 0 restores the default.
void SetIterateThreads(int n);

// Milliseconds this thread has spent inside the pixel services so far.
double ThisThreadServiceMs();

const PF_WorldTransformSuite1* WorldTransformSuite();
// "AEGP Iterate Suite": thread count and generic iteration.
const AEGP_IterateSuite1* AegpIterateSuite();
const PF_Iterate8Suite1* Iterate8Suite();
const PF_iterateFloatSuite1* IterateFloatSuite();
// Sets fill, copy, composite_rect, transfer_rect, transform_world, iterate and iterate_generic.
void FillPixelCallbacks(PF_UtilCallbacks* utils);

}  // namespace host
