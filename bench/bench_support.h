// Helpers of the peer comparisons: running the peers' command lines and timing them.
#pragma once

#include <chrono>
#include <string>

namespace calvex::bench {

// A word single-quoted for the shell.
std::string Quote(const std::string& s);

// Runs a shell command and returns what it prints (standard output and error together);
// `exitCode` receives its exit status (-1 when it did not exit normally).
std::string Run(const std::string& command, int* exitCode = nullptr);

// Decodes a coded MPEG stream with ffmpeg into `raw` as yuv420p pictures, each picture once, in
// display order. Fed straight to ffmpeg's filters, an elementary stream's guessed time stamps make
// it repeat and drop pictures, and every picture after a repeat is then scored against its
// neighbour's source. Returns whether ffmpeg succeeded.
bool DecodeToYuv(const std::string& coded, const std::string& raw);

// Runs a shell command with its output left on the terminal; returns its exit status (-1 when it
// did not exit normally).
int RunStatus(const std::string& command);

// CPU seconds (user + system) of this process (RUSAGE_SELF) or of its finished children
// (RUSAGE_CHILDREN).
double CpuSeconds(int who);

// Wall-clock seconds since `since`.
double Seconds(std::chrono::steady_clock::time_point since);

}  // namespace calvex::bench
