#include "core/file_names.h"

#include "core/messages.h"

namespace calvex {
namespace {

std::size_t LastSeparator(const std::string& path) {
  return path.find_last_of("/\\");
}

// Bytes taken by the first `count` characters of UTF-8 text, so that a cut never splits a
// character.
std::size_t Utf8Prefix(const std::string& text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t chars = 0; i < text.size() && chars < count; ++chars) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return i;
}

std::size_t Utf8Length(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = LastSeparator(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithTrailingSeparator(const std::string& directory) {
  if (directory.empty() || directory.back() == '/' || directory.back() == '\\') return directory;
  return directory + "/";
}

std::string DestinationBaseName(const std::string& source, int section) {
  std::string base = FileNameOf(source);
  const std::size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  if (section < 0) return base;
  if (Utf8Length(base) >= 5) base.resize(Utf8Prefix(base, 5));
  return base + FormatText("%03d", section + 1);
}

std::string DestinationPath(const std::string& source, const std::string& directory,
                            ConversionKind kind, int section) {
  return WithTrailingSeparator(directory) + DestinationBaseName(source, section) +
         ExtensionForKind(kind);
}

}  // namespace calvex
