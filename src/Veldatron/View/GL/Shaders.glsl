// The renderer's shader library: seven functions, each a complete GLSL 330 core shader of one
// stage, in sections that start with a "//! function <name>" line. A name holding "_vertex" is a
// vertex shader, any other a fragment shader.
//
// Positions are device pixels of the drawable with the origin at the lower-left corner and y
// growing upwards, which is also the orientation of OpenGL's clip space, so no function flips y:
//
//     (0, H) +-----------+ (W, H)        clip (-1, 1) +------+ (1, 1)
//            |           |          ->                |      |
//     (0, 0) +-----------+ (W, 0)        clip (-1,-1) +------+ (1,-1)
//
// Attribute locations are shared by every vertex function: 0 position, 1 size, 2 texture origin
// (or texture coordinate), 3 texture size, 4 colour. The cell functions read one record per
// instance and draw its rectangle from the six corners below, in the corner order of every
// rectangle the renderer makes of vertices: (x0,y0) (x1,y0) (x0,y1) (x1,y0) (x1,y1) (x0,y1).

//! function terminal_text_vertex
#version 330 core
layout(location = 0) in vec2 a_position;
layout(location = 2) in vec2 a_texCoord;
layout(location = 4) in vec4 a_color;
uniform vec2 u_viewport;
out vec2 v_texCoord;
out vec4 v_color;
void main()
{
    gl_Position = vec4(2.0 * a_position / u_viewport - 1.0, 0.0, 1.0);
    v_texCoord = a_texCoord;
    v_color = a_color;
}

//! function terminal_cell_text_vertex
#version 330 core
layout(location = 0) in vec2 a_position;
layout(location = 1) in vec2 a_size;
layout(location = 2) in vec2 a_texOrigin;
layout(location = 3) in vec2 a_texSize;
layout(location = 4) in vec4 a_color;
uniform vec2 u_viewport;
out vec2 v_texCoord;
out vec4 v_color;
const vec2 kCorners[6] = vec2[6](vec2(0.0, 0.0), vec2(1.0, 0.0), vec2(0.0, 1.0),
                                 vec2(1.0, 0.0), vec2(1.0, 1.0), vec2(0.0, 1.0));
void main()
{
    vec2 corner = kCorners[gl_VertexID % 6];
    vec2 p = a_position + corner * a_size;
    gl_Position = vec4(2.0 * p / u_viewport - 1.0, 0.0, 1.0);
    v_texCoord = a_texOrigin + corner * a_texSize;
    v_color = a_color;
}

//! function terminal_text_fragment
#version 330 core
// The colour atlas and image textures hold premultiplied colour; the tint is white for them.
uniform sampler2D u_texture;
in vec2 v_texCoord;
in vec4 v_color;
out vec4 o_color;
void main()
{
    o_color = texture(u_texture, v_texCoord) * v_color;
}

//! function terminal_text_fragment_gray
#version 330 core
// Coverage in the red channel; the output is premultiplied for the (one, 1 - alpha) blend.
uniform sampler2D u_texture;
in vec2 v_texCoord;
in vec4 v_color;
out vec4 o_color;
void main()
{
    float coverage = texture(u_texture, v_texCoord).r;
    float alpha = v_color.a * coverage;
    o_color = vec4(v_color.rgb * alpha, alpha);
}

//! function terminal_color_vertex
#version 330 core
layout(location = 0) in vec2 a_position;
layout(location = 4) in vec4 a_color;
uniform vec2 u_viewport;
out vec4 v_color;
void main()
{
    gl_Position = vec4(2.0 * a_position / u_viewport - 1.0, 0.0, 1.0);
    v_color = a_color;
}

//! function terminal_cell_color_vertex
#version 330 core
layout(location = 0) in vec2 a_position;
layout(location = 1) in vec2 a_size;
layout(location = 4) in vec4 a_color;
uniform vec2 u_viewport;
out vec4 v_color;
const vec2 kCorners[6] = vec2[6](vec2(0.0, 0.0), vec2(1.0, 0.0), vec2(0.0, 1.0),
                                 vec2(1.0, 0.0), vec2(1.0, 1.0), vec2(0.0, 1.0));
void main()
{
    vec2 p = a_position + kCorners[gl_VertexID % 6] * a_size;
    gl_Position = vec4(2.0 * p / u_viewport - 1.0, 0.0, 1.0);
    v_color = a_color;
}

//! function terminal_color_fragment
#version 330 core
// Straight alpha, for the (source alpha, 1 - source alpha) blend.
in vec4 v_color;
out vec4 o_color;
void main()
{
    o_color = v_color;
}
