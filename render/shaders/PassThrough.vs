#version 330 core
// The unit quad as given; geoPos and geoUVs sit at locations 0 and 1, bound at link time.
in vec3 geoPos;
in vec2 geoUVs;
out vec2 out_uvs;

void main() {
    gl_Position = vec4(geoPos, 1.0);
    out_uvs = geoUVs;
}
