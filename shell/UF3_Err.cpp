#include "shell/UF3_Err.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>

#include "shell/UF3_Version.h"

namespace {

constexpr const char* kLogFileName = "umbrafex_3_error_log.txt";
constexpr const char* kNoHomeMessage = "HOME environment variable not set";

std::string LogHeader() {
    return "Umbrafex 3 v" + std::to_string(UF3_MAJOR_VERSION) + "." + std::to_string(UF3_MINOR_VERSION) + "." +
           std::to_string(UF3_BUG_VERSION) + ": ";
}

struct ErrName {
    PF_Err code;
    const char* name;
};

constexpr std::array<ErrName, 9> kErrNames{{
    {PF_Err_NONE, "PF_Err_NONE"},
    {PF_Err_OUT_OF_MEMORY, "PF_Err_OUT_OF_MEMORY"},
    {PF_Err_INTERNAL_STRUCT_DAMAGED, "PF_Err_INTERNAL_STRUCT_DAMAGED"},
    {PF_Err_INVALID_INDEX, "PF_Err_INVALID_INDEX"},
    {PF_Err_UNRECOGNIZED_PARAM_TYPE, "PF_Err_UNRECOGNIZED_PARAM_TYPE"},
    {PF_Err_INVALID_CALLBACK, "PF_Err_INVALID_CALLBACK"},
    {PF_Err_BAD_CALLBACK_PARAM, "PF_Err_BAD_CALLBACK_PARAM"},
    {PF_Interrupt_CANCEL, "PF_Interrupt_CANCEL"},
    {PF_Err_CANNOT_PARSE_KEYFRAME_TEXT, "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT"},
}};

}  // namespace

std::string GetLogPath(bool withFile) {
    const char* home = std::getenv("HOME");
    if (home == nullptr) {
        return kNoHomeMessage;
    }
    // operator/ adds a separator only where needed, so HOME="/" or a
    // trailing slash give no doubled separator and an empty HOME stays
    // relative to the current folder.
    const std::filesystem::path folder = std::filesystem::path(home) / "Library" / "Logs" / "Nimbral";
    // Throwing form on purpose: a folder we cannot make is the caller's
    // error to report, not something to paper over here.
    std::filesystem::create_directories(folder);
    std::string text = folder.string();
    if (withFile) {
        text += "/";
        text += kLogFileName;
    }
    return text;
}

std::string LogError(const std::string& message, myParams* params) {
    // One lock for the whole call: lines from render threads must not
    // interleave, and nobody may reopen the stream under a writer.
    static std::mutex logMutex;
    const std::lock_guard<std::mutex> lock(logMutex);

    const std::string path = GetLogPath(true);
    static std::ofstream logStream(path, std::ios::out | std::ios::app);

    // The file may have been deleted, moved or locked since we opened it;
    // writing to the old descriptor would lose the line silently.
    if (!logStream.is_open() || !isFileAccessible(path)) {
        logStream.close();  // a failed close only sets failbit, cleared next
        logStream.clear();
        logStream.open(path, std::ios::out | std::ios::app);
    }
    if (!logStream.is_open()) {
        return "Failed to open log file: " + path;
    }

    if (message.empty()) {
        return "";
    }

    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    const std::size_t stampLen = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    std::string description = GetBufferDetails(params);
    if (!description.empty()) {
        description.insert(0, " - ");
    }

    logStream.write(stamp, static_cast<std::streamsize>(stampLen));
    logStream << " - " << LogHeader() << message << description << "\n";
    logStream.flush();
    return "";
}

std::string LogIfError(PF_Err err, const std::string& message, myParams* params) {
    // A user cancel is an expected outcome, not a fault worth a log line.
    if (err == PF_Err_NONE || err == PF_Interrupt_CANCEL) {
        return "";
    }
    return LogError(message + EnumeratePFErr(err), params);
}

std::string EnumeratePFErr(const PF_Err& err) {
    const auto it =
        std::find_if(kErrNames.begin(), kErrNames.end(), [&](const ErrName& e) { return e.code == err; });
    if (it != kErrNames.end()) {
        return it->name;
    }
    return "unknown error code of " + std::to_string(err);
}

std::string GetBufferDetails(myParams* params) {
    if (params == nullptr) {
        return "";
    }
    const std::array<std::pair<std::string_view, const PF_EffectWorld*>, 3> worlds{{
        {"input_worldP", params->input_worldP},
        {"output_worldP", params->output_worldP},
        {"noise_worldP", params->noise_worldP},
    }};
    std::string details;
    for (const auto& [label, world] : worlds) {
        if (world == nullptr) {
            continue;
        }
        details += label;
        details += " of size: " + std::to_string(world->width) + "x" + std::to_string(world->height) + ". ";
    }
    return details;
}

void SendMessage(std::string message, PF_OutData* out_data) {
    if (out_data == nullptr) {
        return;
    }
    // The last byte stays as the host left it, so it can always terminate.
    const std::size_t count = std::min<std::size_t>(message.size(), PF_MAX_EFFECT_MSG_LEN);
    std::memcpy(out_data->return_msg, message.data(), count);
}

void SendMessageAppendErr(std::string message, PF_OutData* out_data, int err, int err2) {
    // Nothing failed, or the user cancelled: telling them so would only be noise.
    if (err2 == PF_Err_NONE && (err == PF_Err_NONE || err == PF_Interrupt_CANCEL)) {
        return;
    }
    SendMessage(message + " err " + std::to_string(err) + " err2 " + std::to_string(err2), out_data);
}

bool isFileAccessible(const std::string& path) {
    return access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) == 0;
}

bool fileExists(const std::filesystem::path& path) {
    // Non-throwing form: an unreadable or looping path simply doesn't exist
    // for our purposes.
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::none;
}

void OpenFileWithDefaultEditor(const std::string& path) {
    // Best effort: if no editor opens, the user still has the path.
    const int ignored = std::system(("open " + ShellQuoted(path)).c_str());
    (void)ignored;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::vector<std::string> split_string(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> words;
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}
