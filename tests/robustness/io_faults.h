// Failure injection into file output. The test program takes over the calls through which the
// program's writers reach the disk: fwrite and fclose of the C library (the bit-stream
// files, the video encoder, the temporary PCM files, list files), write and close (FFmpeg's
// file output: AVI and WAV files) and rename (outputs put in place). While a fault is armed, the
// calls on files whose path contains a given text fail as a full disk makes them fail (ENOSPC):
//
//   IoFault fault("~~temp.mp2", IoFault::kMidFile, 20000);   // armed until it goes out of scope
//   ... run the conversion ...
//   EXPECT_TRUE(fault.Triggered());
//
// kFirstWrite fails every write from the first; kMidFile lets `bytes` bytes through and fails
// every write after them (the write that crosses the limit writes its share, as a disk does);
// kClose lets every write through and fails the final close (the file is closed all the same,
// only the result says failure, as with a delayed write error of a network disk); kRename fails
// the renaming of such a file (rename, as a full disk may refuse a new directory entry).
//
// Only one fault is armed at a time. Calls on other files, and every call while no fault is armed,
// go straight to the C library.
#pragma once

#include <cstdint>
#include <string>

namespace calvex::testing {

class IoFault {
 public:
  enum Point { kFirstWrite, kMidFile, kClose, kRename };

  IoFault(std::string pathPart, Point point, std::int64_t bytes = 0);
  ~IoFault();
  IoFault(const IoFault&) = delete;
  IoFault& operator=(const IoFault&) = delete;

  // Whether a call failed because of this fault.
  bool Triggered() const;
  // Bytes written to the matching files while the fault was armed (kMidFile with a large limit
  // measures how much a writer writes).
  std::int64_t BytesWritten() const;
};

// The number of open file descriptors of the process (to find descriptors a failed run leaks).
int OpenDescriptorCount();

}  // namespace calvex::testing
