#version 330 core
// Shadow coverage by ray marching: from each output pixel, rays towards the light (spread
// over its angular extent or its disc, with blue-noise offsets) sphere-trace the jump-flood
// field until they touch the source. The hits' distances, eased, give the opacity.
// The tracing it shares with ShadowColour.fs lives in RayMarch.glsl.
#include "RayMarch.glsl"
out float FragColour;

void Shade(float t, float len, Tracing tr) {
    if (t < 0.0) return;
    intensity += Ease(1.0 - t / max(len, 1e-10), tr);
    ++hits;
}

void main() { FragColour = ShadowAlpha(); }
