// The effect's error log and the messages it hands back to the host.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "params/UF3_Params.h"

// The log folder (HOME/Library/Logs/Nimbral), created on every call, or the
// full log file path when withFile. Returns "HOME environment variable not
// set" (creating nothing) without HOME. Throws std::filesystem::filesystem_error
// when the folder cannot be created; the command boundary turns that into an
// error code.
std::string GetLogPath(bool withFile);

// Appends one timestamped line for message (plus the render record's buffer
// sizes) to the log. Returns "" or "Failed to open log file: <path>".
// Safe to call from any thread.
std::string LogError(const std::string& message, myParams* params);

// Logs message followed by the error's name, unless err is no error or a
// user cancel, which are not faults.
std::string LogIfError(PF_Err err, const std::string& message, myParams* params);

// The host's name for an error code, or "unknown error code of <n>".
std::string EnumeratePFErr(const PF_Err& err);

// "<label> of size: WxH. " for each host world present in the record.
std::string GetBufferDetails(myParams* params);

// Puts message (at most 255 chars) into out_data->return_msg for the host
// to show.
void SendMessage(std::string message, PF_OutData* out_data);

// Shows message with both error codes when either is set; a plain user
// cancel is not reported.
void SendMessageAppendErr(std::string message, PF_OutData* out_data, int err, int err2);

// True when path exists and this process may write it.
bool isFileAccessible(const std::string& path);

// True when path resolves to anything at all; never throws.
bool fileExists(const std::filesystem::path& path);

// Hands path to the desktop's default application.
void OpenFileWithDefaultEditor(const std::string& path);

// text as one word the shell takes literally: in single quotes, each ' in it
// written as '\''. Paths come from HOME, which may hold $(...), ` or ".
std::string ShellQuoted(const std::string& text);

// Whitespace-separated words of text.
std::vector<std::string> split_string(const std::string& text);
