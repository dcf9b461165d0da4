#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
    return out;
}

TEST(ModuleExports, OnlyTheTwoEntryPointsAreVisible) {
    std::string table = RunCommand(std::string("nm -D --defined-only '") + UMBRAFEX_MODULE_PATH + "'");
    ASSERT_FALSE(table.empty()) << "nm printed nothing";
    std::set<std::string> names;
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"EffectMain", "PluginDataEntryFunction2"})) << table;
}

}  // namespace
