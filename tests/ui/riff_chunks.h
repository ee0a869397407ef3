// RIFF chunks written by hand, for AVI files with the texts that ffmpeg does not write: the
// "ISBJ" chunk of an "INFO" list and "DISP" chunks.
#pragma once

#include <cstdint>
#include <string>

#include "support/test_support.h"

namespace calvex::testing {

inline std::string Le32(std::uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}
// A chunk, padded to an even size; `declared` replaces the size written in its header.
inline std::string Chunk(const std::string& id, const std::string& data,
                         std::uint32_t declared = 0) {
  std::string c = id + Le32(declared ? declared : static_cast<std::uint32_t>(data.size())) + data;
  if (data.size() % 2) c += '\0';
  return c;
}
inline std::string List(const std::string& type, const std::string& body) {
  return Chunk("LIST", type + body);
}
inline std::string Disp(std::uint32_t type, const std::string& text) {
  return Chunk("DISP", Le32(type) + text + std::string(1, '\0'));
}
inline std::string AviForm(const std::string& body) {
  return "RIFF" + Le32(static_cast<std::uint32_t>(4 + body.size())) + "AVI " + body;
}

// Appends a subject (an INFO list's ISBJ) and a description (a text DISP) to the AVI at `path`,
// inside its "AVI " form.
inline void AddAviTexts(const std::string& path, const std::string& subject,
                        const std::string& description) {
  std::vector<std::uint8_t> avi = ReadFileBytes(path);
  const std::string extra =
      Disp(1, description) + List("INFO", Chunk("ISBJ", subject + std::string(1, '\0')));
  avi.insert(avi.end(), extra.begin(), extra.end());
  const auto riff = static_cast<std::uint32_t>(avi.size() - 8);
  for (int i = 0; i < 4; ++i) avi[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  WriteFileBytes(path, avi);
}

}  // namespace calvex::testing
