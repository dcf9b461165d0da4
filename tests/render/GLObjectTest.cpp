// The GL name owner: a refused name or storage is a UF_Err 4 the caller sees, a moved-from
// owner frees nothing, and a name is freed only on the context that made it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "open_gl/Context.h"
#include "open_gl/GLObject.h"
#include "render/GLFixture.h"
#include "render/GLRefusal.h"
#include "shell/UF3.h"

namespace {

class GLObjects : public GLContextSuite {
protected:
    void TearDown() override {
        gl_refusal::Refuse(0);
        gl_refusal::RefuseTransfer(0);
        GLContextSuite::TearDown();
    }
};

// The owner's UF_Err, or code -1 when nothing was thrown.
template <typename F>
UF_Err Thrown(F&& f) {
    try {
        f();
    } catch (const UF_Err& e) {
        return e;
    }
    return UF_Err(-1, "nothing thrown");
}

TEST_F(GLObjects, ARefusedNameOrStorageIsAnErrorNamingTheCall) {
    const std::pair<GLKind, GLenum> kinds[] = {{GLKind::kTexture, 0},     {GLKind::kFramebuffer, 0},
                                               {GLKind::kVertexArray, 0}, {GLKind::kBuffer, 0},
                                               {GLKind::kShader, GL_VERTEX_SHADER}, {GLKind::kProgram, 0}};
    for (const auto& [kind, stage] : kinds) {
        SCOPED_TRACE(int(kind));
        gl_refusal::Refuse(1);
        const UF_Err e = Thrown([&] { GLObject refused(kind, "Caller: refused", stage); });
        EXPECT_EQ(e.code, PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(e.message, "Caller: refused");
        const GLObject made(kind, "Caller: refused", stage);
        EXPECT_NE(made, 0u);
        EXPECT_EQ(made.Built(), kind == GLKind::kFramebuffer || kind == GLKind::kVertexArray)
            << "built once named, or only once given its storage, compile or link";
    }

    // Buffer storage: refused, unbound and not built; given, bound and built while the GL holds it.
    GLObject buffer(GLKind::kBuffer, "");
    const float data[4] = {1, 2, 3, 4};
    gl_refusal::RefuseTransfer(1);
    UF_Err e = Thrown([&] { buffer.BufferData(GL_ARRAY_BUFFER, sizeof data, data, GL_STATIC_DRAW, "Quad"); });
    EXPECT_EQ(e.code, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(e.message, "Quad glBufferData failed: GL_OUT_OF_MEMORY (0x505)");
    EXPECT_EQ(GetInt(GL_ARRAY_BUFFER_BINDING), 0);
    EXPECT_FALSE(buffer.Built());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "the refusal was taken";
    buffer.BufferData(GL_ARRAY_BUFFER, sizeof data, data, GL_STATIC_DRAW, "Quad");
    EXPECT_EQ(GetInt(GL_ARRAY_BUFFER_BINDING), GLint(GLuint(buffer)));
    EXPECT_TRUE(buffer.Built());
    glBufferData(GL_ARRAY_BUFFER, 0, nullptr, GL_STATIC_DRAW);  // storage lost behind the owner's back
    EXPECT_FALSE(buffer.Built());
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // Texture level, pixels and mipmaps.
    GLObject texture(GLKind::kTexture, "");
    gl_refusal::Refuse(1);  // the image
    e = Thrown([&] { texture.TexImage(GL_R8, 4, 4, GL_RED, GL_UNSIGNED_BYTE, "Caller glTexImage2D failed"); });
    EXPECT_EQ(e.code, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(e.message, "Caller glTexImage2D failed");
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), 0);
    EXPECT_FALSE(texture.Built());
    while (glGetError() != GL_NO_ERROR) {
    }
    texture.TexImage(GL_R8, 4, 4, GL_RED, GL_UNSIGNED_BYTE, "Caller glTexImage2D failed");
    EXPECT_TRUE(texture.Built());
    const unsigned char pixels[16] = {};
    for (const long nth : {1L, 2L}) {
        gl_refusal::RefuseTransfer(nth);
        e = Thrown([&] { texture.TexSubImage(4, 4, GL_RED, GL_UNSIGNED_BYTE, pixels, true, "Caller"); });
        EXPECT_EQ(e.message, std::string("Caller ") + (nth == 1 ? "glTexSubImage2D" : "glGenerateMipmap") +
                                 " failed: GL_OUT_OF_MEMORY (0x505)");
        EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), 0);
    }
    gl_refusal::RefuseTransfer(0);
    EXPECT_EQ(Thrown([&] { texture.TexSubImage(4, 4, GL_RED, GL_UNSIGNED_BYTE, pixels, true, "Caller"); }).code, -1);
    glBindTexture(GL_TEXTURE_2D, 0);

    // A program is built only when it linked from two compiled stages.
    GLObject vertex(GLKind::kShader, "", GL_VERTEX_SHADER), fragment(GLKind::kShader, "", GL_FRAGMENT_SHADER);
    EXPECT_TRUE(vertex.Compile("#version 150\nvoid main() { gl_Position = vec4(0.0); }\n"));
    EXPECT_TRUE(fragment.Compile("#version 150\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n"));
    GLObject linked(GLKind::kProgram, ""), halfLinked(GLKind::kProgram, "");
    EXPECT_TRUE(linked.Link(vertex, fragment));
    EXPECT_TRUE(linked.Built());
    halfLinked.Link(GLObject(), fragment);  // the vertex stage's name refused
    EXPECT_FALSE(halfLinked.Built());
    GLObject broken(GLKind::kShader, "", GL_FRAGMENT_SHADER);
    EXPECT_FALSE(broken.Compile("#version 150\nvoid main() { c = 1; }\n"));
    EXPECT_FALSE(broken.Built());
}

// A GL name counts as an object once bound.
GLObject Texture() {
    GLObject t(GLKind::kTexture, "");
    glBindTexture(GL_TEXTURE_2D, t);
    glBindTexture(GL_TEXTURE_2D, 0);
    return t;
}
GLObject Buffer() {
    GLObject b(GLKind::kBuffer, "");
    glBindBuffer(GL_ARRAY_BUFFER, b);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return b;
}

TEST_F(GLObjects, ANameIsFreedOnlyOnItsOwnContext) {
    // Moves: the source frees nothing, and the target frees what it held before.
    GLObject kept;
    GLuint first = 0;
    {
        GLObject made = Texture();
        first = made;
        GLObject carried(std::move(made));
        EXPECT_EQ(made, 0u);
        kept = std::move(carried);
        EXPECT_EQ(carried, 0u);
    }
    EXPECT_EQ(kept, first);
    EXPECT_TRUE(glIsTexture(first)) << "the moved-from owner freed the name";
    GLObject second = Texture();
    const GLuint secondName = second;
    kept = std::move(second);
    EXPECT_FALSE(glIsTexture(first)) << "the owner moved onto kept its old name";
    EXPECT_EQ(kept, secondName);
    kept.Reset();
    EXPECT_FALSE(glIsTexture(secondName));
    EXPECT_EQ(kept, 0u);

    // Another context current: the owner only forgets, and the other context's object of the
    // same number survives.
    std::string error;
    CGLContextObj other = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(other, nullptr) << error;
    GLObject mine = Buffer();
    ASSERT_EQ(SetCurrentContext(other, false), "");
    std::vector<GLObject> below;  // names under ours on the other context
    GLObject theirs = Buffer();
    while (theirs < mine && below.size() < 4096) below.push_back(std::exchange(theirs, Buffer()));
    ASSERT_EQ(GLuint(theirs), GLuint(mine)) << "the other context has an object of the same number";
    const GLuint name = mine;
    mine.Reset();
    EXPECT_TRUE(glIsBuffer(name)) << "another context's object was freed";
    ASSERT_EQ(SetCurrentContext(s_context, false), "");
    EXPECT_TRUE(glIsBuffer(name)) << "forgotten, not freed: it goes with its context";
    {
        GLObject orphan = Texture();
        SetCurrentContext(nullptr, false);  // no context at all: no GL call
    }
    ASSERT_EQ(SetCurrentContext(other, false), "");
    theirs.Reset();
    EXPECT_FALSE(glIsBuffer(name)) << "freed on its own context";

    // Its context gone: forgotten, whatever is current.
    ASSERT_EQ(SetCurrentContext(s_context, false), "");
    GLObject here = Texture();
    ASSERT_EQ(SetCurrentContext(other, false), "");
    below.clear();
    GLObject stranded = Texture();
    while (stranded < here && below.size() < 4096) below.push_back(std::exchange(stranded, Texture()));
    ASSERT_EQ(GLuint(stranded), GLuint(here));
    below.clear();
    SetCurrentContext(nullptr, false);
    DeleteContext(other, error);
    ASSERT_EQ(SetCurrentContext(s_context, false), "");
    stranded.Reset();
    EXPECT_TRUE(glIsTexture(here)) << "a name of a context gone was freed on this one";
    EXPECT_EQ(stranded, 0u);
}

}  // namespace
