// The subject and description an AVI file may carry: the text of the "ISBJ" chunk of its "INFO"
// list, and the first "DISP" chunk of the "AVI " form that holds text (display type 1).
#pragma once

#include <optional>
#include <string>

namespace calvex::ui {

struct AviTexts {
  std::optional<std::string> subject;      // ISBJ, at most 1024 bytes
  std::optional<std::string> description;  // the first text DISP, at most 1024 bytes
};

// Reads the texts of the AVI at `path`; a file that is not a RIFF "AVI " form, or that lacks a
// chunk, leaves that text empty. Chunks cut short by the end of the file give what is there.
AviTexts ReadAviTexts(const std::string& path);

}  // namespace calvex::ui
