// The program slots: every one builds on the real GL, a broken one does not stop the rest,
// and a slot's program is neither rebuilt nor leaked.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

#include "AE_Effect.h"
#include "open_gl/Program.h"
#include "render/GLFixture.h"
#include "render/ProgramSlots.h"
#include "render/ThreadRenderData.h"

namespace {

using Programs = std::array<Program, kProgramSlotCount>;

// Program names alive in the current context.
int LivePrograms() {
    int alive = 0;
    for (GLuint name = 1; name < 2048; ++name) alive += glIsProgram(name) ? 1 : 0;
    return alive;
}

std::string ProgramLog(GLuint program) {
    char log[512] = {};
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    return log;
}

class ProgramSlots : public GLContextSuite {};

TEST_F(ProgramSlots, EverySlotBuildsOnTheRealGLAndOnlyOnce) {
    const int before = LivePrograms();
    PF_OutData out{};
    Programs programs;
    ASSERT_TRUE(InitPrograms(programs, &out)) << Message(out);
    EXPECT_EQ(Message(out), "") << "a clean build sends nothing to the host";

    std::set<GLuint> names;
    for (int slot = 0; slot < kProgramSlotCount; ++slot) {
        const Program& p = programs[size_t(slot)];
        if (slot == 1 || slot == 15) {
            EXPECT_FALSE(p.initialised()) << "slot " << slot;
            EXPECT_EQ(p.id(), 0u) << "slot " << slot;
            continue;
        }
        EXPECT_TRUE(p.initialised()) << "slot " << slot;
        ASSERT_TRUE(glIsProgram(p.id())) << "slot " << slot;
        GLint linked = GL_FALSE;
        glGetProgramiv(p.id(), GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE) << "slot " << slot;
        names.insert(p.id());
        // The quad feeds positions at 0 and texture coordinates at 1.
        const GLint pos = glGetAttribLocation(p.id(), "geoPos");
        const GLint uvs = glGetAttribLocation(p.id(), "geoUVs");
        if (slot >= kJumpFloodProgram && slot <= kShadowColourProgram) {
            EXPECT_EQ(pos, -1) << "the full-screen vertex shader has no inputs; slot " << slot;
        } else {
            EXPECT_EQ(pos, 0) << "slot " << slot;
            EXPECT_EQ(uvs, 1) << "slot " << slot;
        }
    }
    EXPECT_EQ(names.size(), 14u);
    EXPECT_EQ(LivePrograms(), before + 14);

    // Built slots are skipped: nothing new, the same names.
    std::array<GLuint, kProgramSlotCount> ids{};
    for (int slot = 0; slot < kProgramSlotCount; ++slot) ids[size_t(slot)] = programs[size_t(slot)].id();
    EXPECT_TRUE(InitPrograms(programs, &out));
    for (int slot = 0; slot < kProgramSlotCount; ++slot) EXPECT_EQ(programs[size_t(slot)].id(), ids[size_t(slot)]);
    EXPECT_EQ(LivePrograms(), before + 14);
}

TEST_F(ProgramSlots, BrokenFragmentShaderFailsItsSlotOnlyAndLeavesTheLinkLog) {
    const int before = LivePrograms();
    // The inner invert slot is built tenth: slots before and after it must still build.
    ProgramSourceTable sources = BuiltInProgramSources();
    sources[kInnerInvertProgram].fragment = "#version 330 core\nout float FragColour;\nvoid main() { FragColour = nope; }\n";

    PF_OutData out{};
    Programs programs;
    EXPECT_FALSE(InitPrograms(programs, &out, sources));
    for (const int slot : kProgramBuildOrder) {
        if (slot == kInnerInvertProgram) continue;
        EXPECT_TRUE(programs[size_t(slot)].initialised()) << "slot " << slot;
    }
    const Program& broken = programs[kInnerInvertProgram];
    EXPECT_FALSE(broken.initialised());
    ASSERT_NE(broken.id(), 0u) << "the failed program stays in the slot";
    const std::string log = ProgramLog(broken.id());
    ASSERT_FALSE(log.empty());
    // The host's buffer is not terminated after a copy, so an earlier, longer log may show
    // behind it.
    EXPECT_TRUE(Message(out).starts_with(log.substr(0, PF_MAX_EFFECT_MSG_LEN)))
        << "the host holds the failing slot's link log, the last stage that failed: " << Message(out);

    // Trying again replaces the failed program instead of leaking it.
    EXPECT_TRUE(InitPrograms(programs, &out));
    EXPECT_TRUE(programs[kInnerInvertProgram].initialised());
    EXPECT_EQ(LivePrograms(), before + 14);
}

TEST_F(ProgramSlots, BrokenVertexShaderIsReportedByTheLinkToo) {
    PF_OutData out{};
    Program program;
    EXPECT_FALSE(program.InitInternal("#version 330 core\nvoid main() { gl_Position = nope; }\n",
                                      BuiltInProgramSources()[kCopyProgram].fragment, &out));
    EXPECT_FALSE(program.initialised());
    EXPECT_NE(program.id(), 0u);
    EXPECT_TRUE(Message(out).starts_with(ProgramLog(program.id()).substr(0, PF_MAX_EFFECT_MSG_LEN))) << Message(out);
}

TEST_F(ProgramSlots, UseBindsOnlyABuiltProgram) {
    PF_OutData out{};
    Programs programs;
    ASSERT_TRUE(InitPrograms(programs, &out));
    programs[kCopyProgram].Use(&out);
    EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), GLint(programs[kCopyProgram].id()));

    programs[1].Use(&out);
    EXPECT_EQ(Message(out), "Warning: called Use() on uninitialised Program");
    EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), GLint(programs[kCopyProgram].id())) << "nothing else was bound";
    glUseProgram(0);
}

TEST_F(ProgramSlots, ProgramsGoWithTheirOwner) {
    const int before = LivePrograms();
    GLuint released = 0;
    GLuint destroyed = 0;
    {
        PF_OutData out{};
        Program moved;
        {
            Program p;
            ASSERT_TRUE(p.InitInternal(BuiltInProgramSources()[kScaleProgram].vertex,
                                       BuiltInProgramSources()[kScaleProgram].fragment, &out));
            destroyed = p.id();
            moved = std::move(p);
            EXPECT_EQ(p.id(), 0u);
        }
        EXPECT_TRUE(glIsProgram(destroyed)) << "the moved-to program owns it now";

        Program r;
        ASSERT_TRUE(r.InitInternal(BuiltInProgramSources()[kScaleProgram].vertex,
                                   BuiltInProgramSources()[kScaleProgram].fragment, &out));
        released = r.id();
        r.Release();
        EXPECT_FALSE(r.initialised());
        EXPECT_EQ(r.id(), 0u);
        EXPECT_FALSE(glIsProgram(released));
    }
    EXPECT_FALSE(glIsProgram(destroyed));
    EXPECT_EQ(LivePrograms(), before);
}

}  // namespace
