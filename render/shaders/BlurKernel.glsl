// The blur kernel of the Standard passes and the inputs it reads, pasted into each blur
// shader where it names this file, before the shader's own uniforms.
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform int steps;
uniform float stride;

// Gaussian over 2 * steps + 1 taps; variance 0.06 in units of the radius puts the standard
// deviation near a quarter of steps * stride. No steps means the centre tap alone.
vec4 Blur(vec2 centre, vec2 axis) {
    vec2 texel = axis / vec2(textureSize(videoTexture, 0));
    // Taps i and -i share a weight: one exp for the pair.
    vec4 sum = texture(videoTexture, centre);
    float weights = 1.0;
    for (int i = 1; i <= steps; ++i) {
        float x = float(i) / float(steps);
        float w = exp(-0.5 * x * x / 0.06);
        vec2 d = float(i) * stride * texel;
        sum += w * (texture(videoTexture, centre + d) + texture(videoTexture, centre - d));
        weights += 2.0 * w;
    }
    return sum / weights;
}
