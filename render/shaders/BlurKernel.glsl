// The blur kernel of the Standard passes, pasted into each blur shader where
// it names this file; it reads videoTexture, steps and stride.
// Gaussian over 2 * steps + 1 taps; variance 0.06 in units of the radius puts the standard
// deviation near a quarter of steps * stride. No steps means the centre tap alone.
vec4 Blur(vec2 centre, vec2 axis) {
    vec2 texel = axis / vec2(textureSize(videoTexture, 0));
    vec4 sum = vec4(0.0);
    float weights = 0.0;
    for (int i = -steps; i <= steps; ++i) {
        float x = steps > 0 ? float(i) / float(steps) : 0.0;
        float w = exp(-0.5 * x * x / 0.06);
        sum += w * texture(videoTexture, centre + float(i) * stride * texel);
        weights += w;
    }
    return sum / weights;
}
