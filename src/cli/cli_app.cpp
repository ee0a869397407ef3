// The command line of calvex, parsed with CLI11.
#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "core/data_directory.h"

namespace calvex::cli {
namespace {

// Binds an option to a std::optional field.
template <typename T>
CLI::Option* Optional(CLI::App* app, const std::string& name, std::optional<T>& field,
                      const std::string& help) {
  return app->add_option_function<T>(
      name, [&field](const T& value) { field = value; }, help);
}

constexpr const char* kExitStatusFooter =
    "Exit status: 0 every file converted, 1 a file failed, 2 bad usage or parameters, 130 after "
    "Ctrl-C.";

void AddConvertOptions(CLI::App* convert, ConvertOptions& o) {
  convert
      ->add_option("files", o.files,
                   "Files to convert: .avi, .wav, .mpg, .mp2, or directories of them (their files "
                   "in order of name)")
      ->type_name("FILE");
  convert
      ->add_option("-d,--dest", o.destination,
                   "Directory for the outputs (default: each source's own directory)")
      ->type_name("DIR");
  convert->add_flag("-y,--yes", o.yes,
                    "Replace existing outputs (without it: ask on a terminal, refuse otherwise)");
  convert
      ->add_option("--section", o.sections,
                   "Convert frames FIRST-LAST as an output of its own (repeatable, up to 16; "
                   ".avi and .mpg sources)")
      ->allow_extra_args(false)
      ->type_name("FIRST-LAST");
  convert
      ->add_option("--list", o.listFile,
                   "Also convert the entries of a list file (.lst), with their own parameters")
      ->type_name("FILE.lst");
  auto* log = convert->add_option(
      "--log", o.logFile,
      "Write the run's log to FILE, replacing it. Without --log no log is written (the desktop "
      "program's default log is " +
          DefaultLogPath() + ")");
  log->type_name("FILE");
  convert->add_flag("--no-log", o.noLog, "Write no log (the default)")->excludes(log);
  convert->add_flag("--abort-on-error", o.abortOnError, "Stop at the first file that fails");
  convert->add_option("-j,--jobs", o.jobs, "Convert N files at once (outputs are the same)")
      ->check(CLI::Range(1, 64))
      ->type_name("N");
  Optional(convert, "--threads", o.threads,
           "Worker threads of each conversion (default: the processors, shared among the -j "
           "conversions; outputs are the same)")
      ->check(CLI::Range(1, 64))
      ->type_name("N");
  convert->add_flag("-q,--quiet", o.quiet, "Print errors only");
  convert->add_flag("-r,--recursive", o.recursive,
                    "Also convert the source files in the subdirectories of each directory");
  convert
      ->add_option("--shard", o.shard,
                   "Convert only the K-th of N interleaved slices of the files and list entries "
                   "(1 <= K <= N), so that N machines share one batch")
      ->type_name("K/N");
  convert
      ->add_option_function<std::string>(
          "--progress", [&o](const std::string& format) { o.jsonProgress = format == "json"; },
          "Progress as text on stderr, or as one JSON object a line on stdout (file, stage, "
          "frame, time, percent, fps)")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("text|json");

  const std::string avi = "AVI to MPEG";
  const std::string wav = "WAV to MP2";
  const std::string mpg = "MPEG to AVI";
  const std::string mp2 = "MP2 to WAV";
  Optional(convert, "--frame-rate", o.frameRate,
           "Output frame rate: 30, 29.97, 25, 24 or 23.976 (AVI to MPEG); 10 to 30 (MPEG to AVI)")
      ->type_name("FPS")
      ->group(avi + ", " + mpg);
  Optional(convert, "--size", o.size, "Picture size WxH (even, 32-480 for MPEG; 1-999 for AVI)")
      ->type_name("WxH")
      ->group(avi + ", " + mpg);
  Optional(convert, "--data-rate", o.dataRate,
           "Data rate in KB/s (60-200 for MPEG; 10-1000 for AVI, with the custom target drive)")
      ->type_name("KB/s")
      ->group(avi + ", " + mpg);
  convert
      ->add_flag("--vcd", o.vcd,
                 "A Video CD stream: 352x240 at 29.97 or 23.976 or 352x288 at 25 frames/s "
                 "(from the source's rate), 1150 kbit/s video, Layer II stereo sound at 44.1 kHz "
                 "and 224 kbit/s, in 2324-byte sectors")
      ->group(avi);
  Optional(convert, "--preset", o.preset,
           "Video encoder: standard (the same bytes as ever) or high (a wider motion search and "
           "each macroblock coded the way that costs least for its quality; slower)")
      ->check(CLI::IsMember({"standard", "high"}))
      ->type_name("standard|high")
      ->group(avi);
  Optional(convert, "--layer", o.layer, "MPEG audio layer")
      ->check(CLI::IsMember({1, 2}))
      ->type_name("1|2")
      ->group(avi + ", " + wav);
  Optional(convert, "--audio-bitrate", o.audioBitrate, "Audio bitrate in kbit/s (32-448)")
      ->type_name("KBIT/s")
      ->group(avi + ", " + wav);
  auto* stereo = convert->add_flag("--stereo", o.stereo, "Code stereo audio as plain stereo")
                     ->group(avi + ", " + wav);
  convert->add_flag("--joint-stereo", o.jointStereo, "Code stereo audio as joint stereo")
      ->group(avi + ", " + wav)
      ->excludes(stereo);

  Optional(convert, "--video-codec", o.videoCodec,
           "Video compressor: a four-character code, or none for uncompressed 24-bit")
      ->type_name("NAME")
      ->group(mpg);
  Optional(convert, "--quality", o.quality, "Compressor quality 1-100")
      ->type_name("1-100")
      ->group(mpg);
  Optional(convert, "--key-frame-every", o.keyFrameEvery, "Key frame every N frames (1-999)")
      ->type_name("N")
      ->group(mpg);
  Optional(convert, "--data-type", o.dataType,
           "Pictures of the AVI: 24-bit, or 8-bit through a common palette (uncompressed only)")
      ->check(CLI::IsMember({8, 24}))
      ->type_name("24|8")
      ->group(mpg);
  Optional(convert, "--palette", o.palette,
           "Common palette of 8-bit pictures: 6-6-6, 3-3-2 or 6-7-6")
      ->type_name("NAME")
      ->group(mpg);
  convert->add_flag("--common-palette", o.commonPalette, "Use the common palette (8-bit pictures)")
      ->group(mpg);
  Optional(convert, "--audio-format", o.audioFormat, "Audio of the AVI: pcm or adpcm")
      ->type_name("NAME")
      ->group(mpg);
  Optional(convert, "--audio-rate", o.audioRate,
           "Sampling rate of the AVI's audio in Hz (5125-48000; default: the MPEG's)")
      ->type_name("HZ")
      ->group(mpg);
  Optional(convert, "--audio-channels", o.audioChannels,
           "Channels of the AVI's audio (default: the MPEG's)")
      ->check(CLI::IsMember({1, 2}))
      ->type_name("1|2")
      ->group(mpg);
  Optional(convert, "--audio-bits", o.audioBits, "Bits per sample of the AVI's PCM audio")
      ->check(CLI::IsMember({8, 16}))
      ->type_name("8|16")
      ->group(mpg);
  convert->add_flag("--no-interleave", o.noInterleave, "Do not interleave audio and video")
      ->group(mpg);
  Optional(convert, "--pack-every", o.packEvery, "Pack audio data every N frames")
      ->type_name("N")
      ->group(mpg);
  Optional(convert, "--target-drive", o.targetDrive,
           "Target playback drive: 0-2 hard disk 600/300/150 KB/s, 3-5 CD-ROM 450/300/150 KB/s, "
           "6 custom (--data-rate)")
      ->check(CLI::Range(0, 6))
      ->type_name("0-6")
      ->group(mpg);
  convert
      ->add_flag("--limit-data-rate", o.limitDataRate,
                 "Warn when the AVI's data rate exceeds the target drive's (--target-drive 0-5 and "
                 "--data-rate imply it)")
      ->group(mpg);
  convert->add_flag("--pad-for-cdrom", o.padForCdRom, "Pad frames for CD-ROM (target drive 3-6)")
      ->group(mpg);

  Optional(convert, "--wav-rate", o.wavRate, "Sampling rate in Hz (5125-48000)")
      ->type_name("HZ")
      ->group(mp2);
  Optional(convert, "--wav-channels", o.wavChannels, "Channels")
      ->check(CLI::IsMember({1, 2}))
      ->type_name("1|2")
      ->group(mp2);
  Optional(convert, "--wav-bits", o.wavBits, "Bits per sample")
      ->check(CLI::IsMember({8, 16}))
      ->type_name("8|16")
      ->group(mp2);
  Optional(convert, "--wav-format", o.wavFormat, "Format of the WAV: pcm or adpcm")
      ->type_name("NAME")
      ->group(mp2);
}

}  // namespace

int RunCalvex(int argc, char** argv, const Backends& backends) {
  CLI::App app{"calvex: converts AVI movies to MPEG-1 and WAV to MPEG audio, and back."};
  app.footer(kExitStatusFooter);
  app.set_version_flag("--version", "calvex " CALVEX_VERSION);
  app.require_subcommand(1);

  ConvertOptions convertOptions;
  CLI::App* convert = app.add_subcommand(
      "convert",
      "Convert each FILE by its kind: .avi to .mpg, .wav to .mp2, .mpg to .avi, .mp2 to .wav");
  AddConvertOptions(convert, convertOptions);
  convert->footer(kExitStatusFooter);

  std::vector<std::string> infoFiles;
  bool json = false;
  CLI::App* info = app.add_subcommand("info", "Show what is known about each FILE");
  info->add_option("files", infoFiles, "Files to describe")->required()->type_name("FILE");
  info->add_flag("--json", json, "Print JSON");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitOk : kExitUsage;
  }
  if (convert->parsed()) return RunConvert(convertOptions, backends);
  return RunInfo(infoFiles, json, backends);
}

}  // namespace calvex::cli
