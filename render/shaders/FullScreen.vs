#version 330 core
// Two triangles over the whole target, placed by vertex number: no vertex inputs.
out vec2 uv;

const vec2 kCorners[6] = vec2[6](vec2(-1.0, -1.0), vec2(1.0, -1.0), vec2(1.0, 1.0),
                                 vec2(1.0, 1.0), vec2(-1.0, 1.0), vec2(-1.0, -1.0));

void main() {
    vec2 position = kCorners[gl_VertexID];
    gl_Position = vec4(position, 0.0, 1.0);
    uv = position * 0.5 + 0.5;
}
