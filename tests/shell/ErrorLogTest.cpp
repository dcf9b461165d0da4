// The error log and host messages: what lands on disk, what the host sees,
// and what happens when the log folder or file is in a bad state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <latch>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "shell/UF3_Err.h"

namespace fs = std::filesystem;

namespace {

// Timestamp, name and version that start every line.
const std::string kLine = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} - Umbrafex 3 v1\.0\.8: )";
const char* const kLogFileName = "umbrafex_3_error_log.txt";

// A fresh folder under the system temp folder, removed with everything in it.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "uf3_errlog_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// Sets (null: unsets) an environment variable until the end of the scope.
struct EnvGuard {
    std::string name;
    std::optional<std::string> saved;
    explicit EnvGuard(const char* n) : name(n) {
        if (const char* value = std::getenv(n)) saved = value;
    }
    ~EnvGuard() { Set(saved ? saved->c_str() : nullptr); }
    void Set(const char* value) { value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str()); }
};

std::string ReadFile(const fs::path& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

PF_EffectWorld World(A_long width, A_long height) {
    PF_EffectWorld world{};
    world.width = width;
    world.height = height;
    return world;
}

// Every test gets its own HOME, so the log starts absent. The log stream is
// one per process, so no test may create the log file before its first entry:
// an accessible file at a new path would not make the stream reopen.
class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override { home_.Set(homeDir_.path.c_str()); }
    fs::path LogFolder() const { return homeDir_.path / "Library" / "Logs" / "Nimbral"; }
    fs::path LogFile() const { return LogFolder() / kLogFileName; }

    TempDir homeDir_;
    EnvGuard home_{"HOME"};
};

TEST_F(ErrorLogTest, LinesCarryTimeVersionMessageAndBufferSizes) {
    PF_EffectWorld output = World(640, 360);
    myParams params, empty;
    params.output_worldP = &output;
    ASSERT_EQ(LogError("render failed", &params), "");
    ASSERT_EQ(LogError("no record", nullptr), "");
    ASSERT_EQ(LogError("empty record", &empty), "");
    ASSERT_EQ(LogError("first part\nsecond part", nullptr), "");
    ASSERT_EQ(LogIfError(4, "GuidMixInPtr", nullptr), "");
    // Without worlds to describe, a line ends right after the message; a newline
    // in the message is written as is; LogIfError appends the error's name directly.
    const std::string text = ReadFile(LogFile());
    EXPECT_TRUE(std::regex_match(
        text, std::regex(kLine + R"(render failed - output_worldP of size: 640x360\. \n)" + kLine + "no record\n" +
                         kLine + "empty record\n" + kLine + "first part\nsecond part\n" + kLine +
                         "GuidMixInPtrPF_Err_OUT_OF_MEMORY\n")))
        << text;
}

TEST_F(ErrorLogTest, DeletedLogIsRecreatedWithOnlyTheNewLine) {
    ASSERT_EQ(LogError("before delete", nullptr), "");
    ASSERT_TRUE(fs::remove(LogFile()));
    ASSERT_EQ(LogError("after delete", nullptr), "");
    const std::vector<std::string> lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(": after delete")) << lines[0];
}

// As root, access(W_OK) and open() ignore mode bits, so a read-only file
// cannot be produced. A symlink pointing at itself fails both access() and
// open() with ELOOP for every user, root included.
TEST_F(ErrorLogTest, UnopenableLogReportsFullPathThenRecoversAppending) {
    ASSERT_EQ(LogError("first", nullptr), "");
    ASSERT_TRUE(fs::remove(LogFile()));
    fs::create_symlink(kLogFileName, LogFile());
    EXPECT_EQ(LogError("lost", nullptr), "Failed to open log file: " + LogFolder().string() + "/" + kLogFileName);

    // Once the path is usable again, the stream reopens in append mode and
    // keeps whatever is already in the file.
    fs::remove(LogFile());
    std::ofstream(LogFile()) << "kept line\n";
    ASSERT_EQ(LogError("recovered", nullptr), "");
    const std::vector<std::string> lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "kept line");
    EXPECT_TRUE(lines[1].ends_with(": recovered")) << lines[1];
}

TEST_F(ErrorLogTest, EmptyMessageCreatesFolderAndEmptyFileOnly) {
    EXPECT_EQ(LogError("", nullptr), "");
    ASSERT_TRUE(fs::is_regular_file(LogFile()));
    EXPECT_EQ(fs::file_size(LogFile()), 0u);
}

TEST_F(ErrorLogTest, LogIfErrorIgnoresSuccessAndCancelWithoutTouchingDisk) {
    EXPECT_EQ(LogIfError(PF_Err_NONE, "quiet", nullptr), "");
    EXPECT_EQ(LogIfError(517, "quiet", nullptr), "");
    EXPECT_FALSE(fs::exists(homeDir_.path / "Library")) << "not even the folder";
}

TEST_F(ErrorLogTest, BlockedLogFolderThrowsAndLeavesLoggingUsable) {
    std::ofstream(homeDir_.path / "Library") << "not a folder";
    EXPECT_THROW(GetLogPath(false), fs::filesystem_error);
    EXPECT_THROW(LogError("x", nullptr), fs::filesystem_error);
    EXPECT_THROW(LogIfError(4, "x", nullptr), fs::filesystem_error);

    // A file at the last step of the folder path is just as fatal.
    fs::remove(homeDir_.path / "Library");
    fs::create_directories(LogFolder().parent_path());
    std::ofstream(LogFolder()) << "not a folder";
    EXPECT_THROW(LogError("x", nullptr), fs::filesystem_error);

    // The throw must not leave the log's lock held.
    fs::remove(LogFolder());
    ASSERT_EQ(LogError("after throw", nullptr), "");
    EXPECT_EQ(ReadLines(LogFile()).size(), 1u);
}

TEST_F(ErrorLogTest, ConcurrentWritersProduceWholeLines) {
    constexpr int kThreads = 16, kLinesPerThread = 200;
    // All three worlds, to show their fixed order.
    PF_EffectWorld input = World(1920, 1080), output = World(640, 360), noise = World(256, 256);
    myParams params;
    params.noise_worldP = &noise;
    params.output_worldP = &output;
    params.input_worldP = &input;
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kLinesPerThread; ++i)
                LogError("thread " + std::to_string(t) + " line " + std::to_string(i), &params);
        });
    }
    for (std::thread& thread : threads) thread.join();

    const std::regex line(kLine + R"(thread (\d+) line (\d+) - input_worldP of size: 1920x1080\. )"
                                  R"(output_worldP of size: 640x360\. noise_worldP of size: 256x256\. )");
    const std::vector<std::string> lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), size_t(kThreads * kLinesPerThread));
    std::set<std::pair<int, int>> seen;
    for (const std::string& text : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        seen.emplace(std::stoi(match[1]), std::stoi(match[2]));
    }
    EXPECT_EQ(seen.size(), lines.size());
}

TEST_F(ErrorLogTest, HomeDecidesTheFolder) {
    // A trailing separator is not doubled.
    const std::string home = homeDir_.path.string();
    home_.Set((home + "/").c_str());
    EXPECT_EQ(GetLogPath(false), home + "/Library/Logs/Nimbral");
    EXPECT_EQ(GetLogPath(true), home + "/Library/Logs/Nimbral/umbrafex_3_error_log.txt");
    EXPECT_TRUE(fs::is_directory(LogFolder()));

    TempDir cwd;
    const fs::path saved = fs::current_path();
    fs::current_path(cwd.path);
    // Unset: reported, and nothing created.
    home_.Set(nullptr);
    EXPECT_EQ(GetLogPath(false), "HOME environment variable not set");
    EXPECT_EQ(GetLogPath(true), "HOME environment variable not set");
    EXPECT_TRUE(fs::is_empty(cwd.path));
    // Empty: under the current folder.
    home_.Set("");
    EXPECT_EQ(GetLogPath(false), "Library/Logs/Nimbral");
    EXPECT_EQ(GetLogPath(true), "Library/Logs/Nimbral/umbrafex_3_error_log.txt");
    EXPECT_EQ(LogError("relative", nullptr), "");
    fs::current_path(saved);
    const std::vector<std::string> lines = ReadLines(cwd.path / "Library/Logs/Nimbral" / kLogFileName);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(": relative"));
}

TEST(ErrorNames, KnownCodesUseHostNamesAndOthersTheirNumber) {
    const std::pair<PF_Err, std::string> names[] = {
        {0, "PF_Err_NONE"}, {4, "PF_Err_OUT_OF_MEMORY"}, {512, "PF_Err_INTERNAL_STRUCT_DAMAGED"},
        {513, "PF_Err_INVALID_INDEX"}, {514, "PF_Err_UNRECOGNIZED_PARAM_TYPE"}, {515, "PF_Err_INVALID_CALLBACK"},
        {516, "PF_Err_BAD_CALLBACK_PARAM"}, {517, "PF_Interrupt_CANCEL"}, {518, "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT"},
        {-1, "unknown error code of -1"}, {519, "unknown error code of 519"}, {1, "unknown error code of 1"},
    };
    for (const auto& [code, name] : names) EXPECT_EQ(EnumeratePFErr(code), name) << code;
}

// The record is filled with a sentinel so that any stray write shows.
class HostMessageTest : public ::testing::Test {
protected:
    static constexpr unsigned char kSentinel = 0xA5;
    void SetUp() override { std::memset(&outData_, kSentinel, sizeof outData_); }

    // Bytes outside the first `written` bytes of return_msg that no longer hold the sentinel.
    int ChangedBytesOutside(size_t written) const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&outData_);
        const size_t msgStart = offsetof(PF_OutData, return_msg);
        int changed = 0;
        for (size_t i = 0; i < sizeof outData_; ++i)
            changed += (i < msgStart || i >= msgStart + written) && bytes[i] != kSentinel;
        return changed;
    }

    PF_OutData outData_;
};

TEST_F(HostMessageTest, MessagesWriteOnlyTheirBytesCutTo255) {
    SendMessage("0123456789", &outData_);
    EXPECT_EQ(std::string(outData_.return_msg, 10), "0123456789");
    EXPECT_EQ(ChangedBytesOutside(10), 0);
    // A long one keeps the last byte as the host left it.
    std::string message;
    for (int i = 0; i < 300; ++i) message += char('a' + i % 26);
    SendMessage(message, &outData_);
    EXPECT_EQ(std::string(outData_.return_msg, 255), message.substr(0, 255));
    EXPECT_EQ(ChangedBytesOutside(255), 0);
    SendMessage("nowhere", nullptr);  // ignored
    SendMessageAppendErr("nowhere", nullptr, 4, 0);
}

TEST_F(HostMessageTest, AppendErrShowsBothCodesUnlessNothingToReport) {
    SendMessageAppendErr("Render", &outData_, 0, 0);
    SendMessageAppendErr("Render", &outData_, 517, 0);
    EXPECT_EQ(ChangedBytesOutside(0), 0);

    const std::string cancelWithCause = "Render err 517 err2 -3", secondOnly = "Setup err 0 err2 4";
    SendMessageAppendErr("Render", &outData_, 517, -3);
    EXPECT_EQ(std::string(outData_.return_msg, cancelWithCause.size()), cancelWithCause);
    SendMessageAppendErr("Setup", &outData_, 0, 4);
    EXPECT_EQ(std::string(outData_.return_msg, secondOnly.size()), secondOnly);
    EXPECT_EQ(ChangedBytesOutside(cancelWithCause.size()), 0);
}

TEST(ErrorLogHelpers, SplitStringOnAnyWhitespace) {
    EXPECT_EQ(split_string("  alpha\tbeta\n gamma  "), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(split_string("single"), (std::vector<std::string>{"single"}));
    EXPECT_TRUE(split_string("").empty());
    EXPECT_TRUE(split_string(" \t\n ").empty());
}

}  // namespace
