#include "core/messages.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace calvex {
namespace {

struct Message {
  int id;
  const char* text;
};

// Sorted by id.
constexpr Message kMessages[] = {
    {24, "Converting %s to %s."},
    {26, "6-6-6"},
    {27, "3-3-2"},
    {28, "6-7-6"},
    {30, "VX_TOLBREK1"},
    {31, "Vorla Calvex"},
    {32, "Select Files"},
    {34, "Video"},
    {35, "Audio"},
    {36, "Interleaving"},
    {40, "%2d%c  Press Esc to abort"},
    {41, "Save List File"},
    {42, "Load List File"},
    {43, "About &Vorla Products"},
    {44, "&About Vorla Calvex"},
    {45, "%2d,%03d Bytes"},
    {46, "%d KB"},
    {48, "%2d.%d kHz"},
    {49, "%d Bits"},
    {50, "Stereo"},
    {51, "Joint Stereo"},
    {52, "%3.3f Frames/Sec"},
    {53, "%d Frames"},
    {54, "%d Bits [ %d x %d ]"},
    {55, "%d.%d Secs"},
    {56, "%3.2f kHz ,%d Bits, %s"},
    {57, "Mono"},
    {58, "Microsoft wave format"},
    {59, "%3.2f kHz "},
    {60, "Select Directory"},
    {63, "Bar"},
    {67, "%2d%c  Converting file... press Esc to abort"},
    {70, "Current Frame: %3d"},
    {71, "Section %2d: (%2d - %2d)"},
    {89, "Converting %s [Section %d] to %s."},
    {91, "Hard Disk 600KB/Sec"},
    {92, "Hard Disk 300KB/Sec"},
    {93, "Hard Disk 150KB/Sec"},
    {94, "CD-ROM 450KB/Sec"},
    {95, "CD-ROM 300KB/Sec"},
    {96, "CD-ROM 150KB/Sec"},
    {97, "Custom"},
    {100, "Insufficient memory, please close other programs to free up system resources."},
    {101, "Unable to open file."},
    {102, "Unable to create file."},
    {104, "Your current version of Video for Windows is incompatible or an earlier version."},
    {105, "The AVI file contains no video data."},
    {106, "Unable to continue. An error has occurred decoding the AVI file."},
    {107, "The AVI file contains no audio data."},
    {108, "Unable to read the audio format."},
    {109, "Unable to create video data."},
    {110, "Unable to compress the video data in the specified format."},
    {111, "Unable to write to an AVI file. Free space in the destination disk is not enough."},
    {112, "Unable to create audio data."},
    {113, "The current frame rate is not supported by MPEG."},
    {114, "The specified file is not an MPEG file."},
    {115, "The specified file is not a WAV file."},
    {116, "The specified WAV file is corrupted."},
    {117, "The WAV file is not in PCM format."},
    {118, "The audio sample is not 8- or 16-bit."},
    {119, "The current audio sampling rate is not supported by MPEG."},
    {120, "For 1 or 2 audio channel only."},
    {121, "Unable to continue. An error occurred with the audio data."},
    {122, "This program does not support Layer III audio."},
    {123, "Unable to create a temporary file."},
    {124, "Unable to write to a WAV file."},
    {125, "This is not valid MPEG video data."},
    {126, "Unable to continue. An error occurred with the video data."},
    {127, "Unable to read the file."},
    {128, "Source file size is zero."},
    {129, "Insufficient memory to display the frame."},
    {130, "Internal error code = %d."},
    {131, "An MCI window failing play has occurred."},
    {132, "%s does not exist."},
    {133, "The MPEG file has been corrupted."},
    {134, "Please select a file first."},
    {135, "Unable to create an MCI window."},
    {136, "Unable to play an MCI window."},
    {138, "Unable to load library %s."},
    {139, "The list file has been corrupted."},
    {140, "Unable to read the video format."},
    {141, "No compression scheme is available."},
    {142, "Not supported."},
    {145, "The destination directory does not exist."},
    {146, "Unable to execute this program without Win32s."},
    {147, "Free space in the destination disk is not enough."},
    {148, "The selection number in the selected files exceeds 100."},
    {149, "The section starts after the last frame of the file."},
    {150, "Section %d (frames %d - %d): the file has %d frames."},
    {151,
     "Section %d (frames %d - %d) ends after the last frame of the file and is cut at frame %d."},
    {201, "30 Frames/Sec"},
    {202, "29.97 Frames/Sec"},
    {203, "25 Frames/Sec"},
    {204, "24 Frames/Sec"},
    {205, "23.976 Frames/Sec"},
    {211, "Preferences..."},
    {212, "Calvex"},
    {213, "BeepDone"},
    {214, "ToolTip"},
    {215, "SaveWhenExit"},
    {216, "AbortWhenErr"},
    {217, "LogFile"},
    {218, "LogFileName"},
    {220, "Converting..."},
    {221, "Conversion finished."},
    {222, "Read %s"},
    {223, "Write %s"},
    {224, "Failure to write %s"},
    {225, "Conversion ended by user. The conversion process was not completed."},
    {226, "Error occurred:"},
    {227, "The starting time is %s"},
    {228, "The finishing time is %s"},
    {230, "Variable"},
    {231, "%d KB/Sec"},
    {232, "%d KBits/Sec"},
    {233, "Dual Channel"},
    {240, "Conversion complete."},
    {241, "Do you want to abort the current conversion.?"},
    {242, "Do you want to replace the existing file %s?"},
    {243, "The drive %s is read only."},
    {244, "Do you want to replace the existing file(s)?"},
    {245, "Invalid parameters. The value must be between %d and %d"},
    {246, "The width and height must be even numbers."},
    {247, "Unable to complete the conversion. Errors occur!"},
    {248, "Warning: exceed the data transfer rate."},
    {271, "tolbrek.log"},
    {272, "tolbrek.hlp"},
    {273, "products.hlp"},
    {274, "~~temp.mpg"},
    {275, "~~temp.mp2"},
    {276, "~audio.tmp"},
    {279, "vorla.dat"},
    {280, "vxmpeg1.dat"},
    {281, "No Audio"},
    {283, "%s (%d of %d)"},
    {500, "Unable to convert to a PCM file."},
    {501, "Unable to convert to a non-PCM file."},
    {607, "The actual data transfer rate exceeds the data transfer rate specified."},
    {608, "Unable to support specified audio data type."},
    {1000, "Please restart Windows."},
    {1001, "Unable to open the AVI file."},
    {1002, "Please restart Windows."},
    {1003, "Unable to open the AVI file."},
    {1004, "Unable to create the AVI file."},
    {1005, "Please restart Windows."},
    {1006, "The AVI file has no audio data."},
    {1007, "Internal operation, this performs no function."},
    {1008, "The internal buffer is currently full."},
    {3000, "No Compression"},
    {3004, "Microsoft ADPCM"},
    {3005, "Unknown compression scheme"},
    {3006, "PCM"},
};

constexpr bool SortedById() {
  for (std::size_t i = 1; i < std::size(kMessages); ++i)
    if (kMessages[i - 1].id >= kMessages[i].id) return false;
  return true;
}
static_assert(SortedById(), "message table must be sorted by id");

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace

std::string_view MessageText(int id) {
  const auto* it = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                                    [](const Message& m, int key) { return m.id < key; });
  if (it == std::end(kMessages) || it->id != id) return {};
  return it->text;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = VFormat(format, args);
  va_end(args);
  return out;
}

std::string FormatMessage(int id, std::string_view argument) {
  const std::string format(MessageText(id));
  const std::string arg(argument);
  return FormatText(format.c_str(), arg.c_str());
}

std::string FormatMessage(int id, int argument) {
  const std::string format(MessageText(id));
  return FormatText(format.c_str(), argument);
}

std::string LogLineText(int id, std::string_view text) {
  if (id == 0) return std::string(text);
  if (text.empty()) return std::string(MessageText(id));
  return FormatMessage(id, text);
}

}  // namespace calvex
