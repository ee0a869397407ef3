// The program's one table of numbered user-visible texts: error messages, questions, warnings,
// log lines, captions and labels. Every text the user sees is looked up here by its number.
#pragma once

#include <string>
#include <string_view>

namespace calvex {

// Longest text the table may hold; texts are built into 128-byte buffers by the original design,
// and formatted results must never be cut silently, so callers use std::string.
inline constexpr int kMessageMaxLength = 127;

// The text of message `id`, or an empty view when the table has no such message.
std::string_view MessageText(int id);

// printf-style formatting into a std::string (no fixed buffer, nothing truncated).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Message `id` used as a format with one string argument ("%s" messages such as 223 or 132).
std::string FormatMessage(int id, std::string_view argument);

// Message `id` used as a format with one integer argument (message 130, for example).
std::string FormatMessage(int id, int argument);

// The text of a log line: with id 0 the text itself; with an id and a text, the message filled
// with the text ("%s"); with an id and no text, the message.
std::string LogLineText(int id, std::string_view text = {});

}  // namespace calvex
