#version 330 core
// Row-vector product: the passes upload xform transposed, so this is M * p for their M.
// geoPos and geoUVs sit at locations 0 and 1, bound at link time.
in vec3 geoPos;
in vec2 geoUVs;
uniform mat4 xform;
out vec2 out_uvs;

void main() {
    gl_Position = vec4(geoPos, 1.0) * xform;
    out_uvs = geoUVs;
}
