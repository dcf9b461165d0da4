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

const char* const kTimestamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})";
const char* const kHeader = R"( - Umbrafex 3 v1\.0\.8: )";
const char* const kLogFileName = "umbrafex_3_error_log.txt";

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "uf3_errlog_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Sets or unsets an environment variable for one scope.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            saved_ = value;
        }
    }
    ~EnvGuard() {
        if (saved_) {
            setenv(name_.c_str(), saved_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    void Set(const std::string& value) { setenv(name_.c_str(), value.c_str(), 1); }
    void Unset() { unsetenv(name_.c_str()); }

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// Changes the current folder for one scope.
class CwdGuard {
public:
    explicit CwdGuard(const fs::path& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
    ~CwdGuard() {
        std::error_code ec;
        fs::current_path(saved_, ec);
    }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;

private:
    fs::path saved_;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
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
    void SetUp() override { home_.Set(homeDir_.path().string()); }

    fs::path LogFolder() const { return homeDir_.path() / "Library" / "Logs" / "Nimbral"; }
    fs::path LogFile() const { return LogFolder() / kLogFileName; }
    std::string LogFileText() const { return LogFolder().string() + "/" + kLogFileName; }

    TempDir homeDir_;
    EnvGuard home_{"HOME"};
};

TEST_F(ErrorLogTest, LineCarriesTimeVersionMessageAndBufferSizes) {
    PF_EffectWorld output = World(640, 360);
    myParams params;
    params.output_worldP = &output;

    ASSERT_EQ(LogError("render failed", &params), "");
    ASSERT_EQ(LogError("no record", nullptr), "");
    myParams empty;
    ASSERT_EQ(LogError("empty record", &empty), "");

    const std::vector<std::string> lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(std::string(kTimestamp) + kHeader + R"(render failed - output_worldP of size: 640x360\. )")))
        << lines[0];
    // Without worlds to describe, the line ends right after the message.
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kTimestamp) + kHeader + "no record"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kTimestamp) + kHeader + "empty record")))
        << lines[2];
}

TEST_F(ErrorLogTest, MessageWithNewlineIsWrittenAsIs) {
    ASSERT_EQ(LogError("first part\nsecond part", nullptr), "");
    const std::string text = ReadFile(LogFile());
    EXPECT_TRUE(std::regex_match(text, std::regex(std::string(kTimestamp) + kHeader + "first part\nsecond part\n")))
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

    EXPECT_EQ(LogError("lost", nullptr), "Failed to open log file: " + LogFileText());

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

TEST_F(ErrorLogTest, ReadOnlyLogReportsFullPathForNonRoot) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes through mode bits; covered by the symlink-loop case";
    }
    ASSERT_EQ(LogError("first", nullptr), "");
    fs::permissions(LogFile(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    EXPECT_EQ(LogError("lost", nullptr), "Failed to open log file: " + LogFileText());
    EXPECT_EQ(ReadLines(LogFile()).size(), 1u);
}

TEST_F(ErrorLogTest, EmptyMessageCreatesFolderAndEmptyFileOnly) {
    EXPECT_EQ(LogError("", nullptr), "");
    EXPECT_TRUE(fs::is_directory(LogFolder()));
    ASSERT_TRUE(fs::is_regular_file(LogFile()));
    EXPECT_EQ(fs::file_size(LogFile()), 0u);
}

TEST_F(ErrorLogTest, LogIfErrorIgnoresSuccessAndCancelWithoutTouchingDisk) {
    EXPECT_EQ(LogIfError(PF_Err_NONE, "quiet", nullptr), "");
    EXPECT_EQ(LogIfError(517, "quiet", nullptr), "");
    // Not even the folder: these calls must stay cheap and side-effect free.
    EXPECT_FALSE(fs::exists(homeDir_.path() / "Library"));
}

TEST_F(ErrorLogTest, LogIfErrorAppendsErrorNameWithoutSeparator) {
    ASSERT_EQ(LogIfError(4, "GuidMixInPtr", nullptr), "");
    const std::vector<std::string> lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(std::string(kTimestamp) + kHeader + "GuidMixInPtrPF_Err_OUT_OF_MEMORY")))
        << lines[0];
}

TEST_F(ErrorLogTest, BlockedLogFolderThrowsAndLeavesLoggingUsable) {
    std::ofstream(homeDir_.path() / "Library") << "not a folder";
    EXPECT_THROW(GetLogPath(false), fs::filesystem_error);
    EXPECT_THROW(LogError("x", nullptr), fs::filesystem_error);
    EXPECT_THROW(LogIfError(4, "x", nullptr), fs::filesystem_error);

    // A file at the last step of the folder path is just as fatal.
    fs::remove(homeDir_.path() / "Library");
    fs::create_directories(LogFolder().parent_path());
    std::ofstream(LogFolder()) << "not a folder";
    EXPECT_THROW(LogError("x", nullptr), fs::filesystem_error);

    // The throw must not leave the log's lock held.
    fs::remove(LogFolder());
    ASSERT_EQ(LogError("after throw", nullptr), "");
    EXPECT_EQ(ReadLines(LogFile()).size(), 1u);
}

TEST_F(ErrorLogTest, ConcurrentWritersProduceWholeLines) {
    constexpr int kThreads = 16;
    constexpr int kLinesPerThread = 200;
    PF_EffectWorld input = World(1920, 1080);
    PF_EffectWorld noise = World(256, 256);
    myParams params;
    params.input_worldP = &input;
    params.noise_worldP = &noise;

    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kLinesPerThread; ++i) {
                LogError("thread " + std::to_string(t) + " line " + std::to_string(i), &params);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const std::regex line(std::string(kTimestamp) + kHeader +
                          R"(thread (\d+) line (\d+) - input_worldP of size: 1920x1080\. )"
                          R"(noise_worldP of size: 256x256\. )");
    const std::vector<std::string> lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
    std::set<std::pair<int, int>> seen;
    for (const std::string& text : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        seen.emplace(std::stoi(match[1]), std::stoi(match[2]));
    }
    EXPECT_EQ(seen.size(), lines.size());
}

TEST_F(ErrorLogTest, LogPathJoinsWithoutDoubledSeparator) {
    home_.Set(homeDir_.path().string() + "/");
    EXPECT_EQ(GetLogPath(false), homeDir_.path().string() + "/Library/Logs/Nimbral");
    EXPECT_EQ(GetLogPath(true), homeDir_.path().string() + "/Library/Logs/Nimbral/umbrafex_3_error_log.txt");
    EXPECT_TRUE(fs::is_directory(LogFolder()));
}

TEST_F(ErrorLogTest, UnsetHomeIsReportedAndNothingCreated) {
    TempDir cwd;
    CwdGuard inCwd(cwd.path());
    home_.Unset();

    EXPECT_EQ(GetLogPath(false), "HOME environment variable not set");
    EXPECT_EQ(GetLogPath(true), "HOME environment variable not set");
    EXPECT_TRUE(fs::is_empty(cwd.path()));
    EXPECT_TRUE(fs::is_empty(homeDir_.path()));
}

TEST_F(ErrorLogTest, EmptyHomeLogsUnderCurrentFolder) {
    TempDir cwd;
    CwdGuard inCwd(cwd.path());
    home_.Set("");

    EXPECT_EQ(GetLogPath(false), "Library/Logs/Nimbral");
    EXPECT_EQ(GetLogPath(true), "Library/Logs/Nimbral/umbrafex_3_error_log.txt");
    ASSERT_EQ(LogError("relative", nullptr), "");
    const std::vector<std::string> lines = ReadLines(cwd.path() / "Library/Logs/Nimbral" / kLogFileName);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(": relative"));
}

TEST(ErrorNames, KnownCodesUseHostNames) {
    const std::vector<std::pair<PF_Err, std::string>> known = {
        {0, "PF_Err_NONE"},
        {4, "PF_Err_OUT_OF_MEMORY"},
        {512, "PF_Err_INTERNAL_STRUCT_DAMAGED"},
        {513, "PF_Err_INVALID_INDEX"},
        {514, "PF_Err_UNRECOGNIZED_PARAM_TYPE"},
        {515, "PF_Err_INVALID_CALLBACK"},
        {516, "PF_Err_BAD_CALLBACK_PARAM"},
        {517, "PF_Interrupt_CANCEL"},
        {518, "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT"},
    };
    for (const auto& [code, name] : known) {
        EXPECT_EQ(EnumeratePFErr(code), name) << code;
    }
}

TEST(ErrorNames, UnknownCodesShowSignedNumber) {
    EXPECT_EQ(EnumeratePFErr(-1), "unknown error code of -1");
    EXPECT_EQ(EnumeratePFErr(519), "unknown error code of 519");
    EXPECT_EQ(EnumeratePFErr(1), "unknown error code of 1");
}

TEST(BufferDetails, ListsPresentWorldsInFixedOrder) {
    PF_EffectWorld input = World(1920, 1080);
    PF_EffectWorld output = World(640, 360);
    PF_EffectWorld noise = World(256, 128);
    myParams all;
    all.noise_worldP = &noise;
    all.output_worldP = &output;
    all.input_worldP = &input;
    EXPECT_EQ(GetBufferDetails(&all),
              "input_worldP of size: 1920x1080. output_worldP of size: 640x360. noise_worldP of size: 256x128. ");

    myParams noiseOnly;
    noiseOnly.noise_worldP = &noise;
    EXPECT_EQ(GetBufferDetails(&noiseOnly), "noise_worldP of size: 256x128. ");

    myParams none;
    EXPECT_EQ(GetBufferDetails(&none), "");
    EXPECT_EQ(GetBufferDetails(nullptr), "");
}

// Fills the whole record with a sentinel so that any stray write shows.
class HostMessageTest : public ::testing::Test {
protected:
    static constexpr unsigned char kSentinel = 0xA5;
    void SetUp() override { std::memset(&outData_, kSentinel, sizeof outData_); }

    // Bytes of the record outside the first `written` bytes of return_msg
    // that no longer hold the sentinel.
    int ChangedBytesOutside(size_t written) const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&outData_);
        const size_t msgStart = offsetof(PF_OutData, return_msg);
        int changed = 0;
        for (size_t i = 0; i < sizeof outData_; ++i) {
            const bool inMessage = i >= msgStart && i < msgStart + written;
            if (!inMessage && bytes[i] != kSentinel) {
                ++changed;
            }
        }
        return changed;
    }

    PF_OutData outData_;
};

TEST_F(HostMessageTest, LongMessageIsCutTo255AndLastByteKept) {
    std::string message;
    for (int i = 0; i < 300; ++i) {
        message += static_cast<char>('a' + i % 26);
    }
    SendMessage(message, &outData_);
    EXPECT_EQ(std::string(outData_.return_msg, 255), message.substr(0, 255));
    EXPECT_EQ(ChangedBytesOutside(255), 0);
}

TEST_F(HostMessageTest, ShortMessageWritesOnlyItsBytes) {
    SendMessage("0123456789", &outData_);
    EXPECT_EQ(std::string(outData_.return_msg, 10), "0123456789");
    EXPECT_EQ(ChangedBytesOutside(10), 0);
}

TEST_F(HostMessageTest, NullOutDataIsIgnored) {
    SendMessage("nowhere", nullptr);
    SendMessageAppendErr("nowhere", nullptr, 4, 0);
}

TEST_F(HostMessageTest, AppendErrShowsBothCodesUnlessNothingToReport) {
    SendMessageAppendErr("Render", &outData_, 0, 0);
    SendMessageAppendErr("Render", &outData_, 517, 0);
    EXPECT_EQ(ChangedBytesOutside(0), 0);

    const std::string cancelWithCause = "Render err 517 err2 -3";
    SendMessageAppendErr("Render", &outData_, 517, -3);
    EXPECT_EQ(std::string(outData_.return_msg, cancelWithCause.size()), cancelWithCause);

    const std::string secondOnly = "Setup err 0 err2 4";
    SendMessageAppendErr("Setup", &outData_, 0, 4);
    EXPECT_EQ(std::string(outData_.return_msg, secondOnly.size()), secondOnly);
    EXPECT_EQ(ChangedBytesOutside(cancelWithCause.size()), 0);
}

TEST(ErrorLogFiles, AccessibleAndExistsOnAwkwardPaths) {
    TempDir dir;
    const fs::path file = dir.path() / "file.txt";
    std::ofstream(file) << "x";
    const fs::path loop = dir.path() / "loop";
    fs::create_symlink("loop", loop);
    const fs::path dangling = dir.path() / "dangling";
    fs::create_symlink("missing", dangling);

    EXPECT_TRUE(isFileAccessible(file.string()));
    EXPECT_FALSE(isFileAccessible((dir.path() / "missing").string()));
    EXPECT_FALSE(isFileAccessible(dangling.string()));
    EXPECT_FALSE(isFileAccessible(loop.string()));

    EXPECT_TRUE(fileExists(file));
    EXPECT_TRUE(fileExists(dir.path()));
    EXPECT_FALSE(fileExists(dir.path() / "missing"));
    EXPECT_FALSE(fileExists(file / "child"));  // a file as a folder: ENOTDIR
    EXPECT_FALSE(fileExists(dangling));
    bool loopExists = true;
    EXPECT_NO_THROW(loopExists = fileExists(loop));
    EXPECT_FALSE(loopExists);
}

TEST(ErrorLogHelpers, SplitStringOnAnyWhitespace) {
    EXPECT_EQ(split_string("  alpha\tbeta\n gamma  "), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(split_string("single"), (std::vector<std::string>{"single"}));
    EXPECT_TRUE(split_string("").empty());
    EXPECT_TRUE(split_string(" \t\n ").empty());
}

TEST(ErrorLogHelpers, OpenHandsQuotedPathToOpenCommand) {
    TempDir bin;
    const fs::path record = bin.path() / "record.txt";
    {
        std::ofstream script(bin.path() / "open");
        script << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\" >> '" << record.string() << "'; done\n";
    }
    fs::permissions(bin.path() / "open", fs::perms::owner_all);
    EnvGuard path("PATH");
    const char* oldPath = std::getenv("PATH");
    path.Set(bin.path().string() + ":" + (oldPath ? oldPath : "/usr/bin:/bin"));

    OpenFileWithDefaultEditor("/tmp/My Logs/umbrafex_3_error_log.txt");
    EXPECT_EQ(ReadFile(record), "[/tmp/My Logs/umbrafex_3_error_log.txt]\n");
}

}  // namespace
