// The host's stand-in for the desktop's `open`.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/Host.h"

namespace fs = std::filesystem;

TEST(HostStreams, OpenHandsItsArgumentToXdgOpen) {
    char tmpl[] = "/tmp/uf3openXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    std::ofstream(dir / "xdg-open") << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \""
                                    << (dir / "args").string() << "\"\n";
    fs::permissions(dir / "xdg-open", fs::perms::owner_all);

    host::Host h;  // puts its own `open` on PATH
    const std::string oldPath = getenv("PATH");
    setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);
    EXPECT_EQ(std::system("open \"/tmp/a folder\""), 0);
    setenv("PATH", oldPath.c_str(), 1);

    std::ifstream in(dir / "args");
    std::stringstream args;
    args << in.rdbuf();
    EXPECT_EQ(args.str(), "[/tmp/a folder]");
    fs::remove_all(dir);
}
