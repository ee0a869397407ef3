// The most memory a piece of code holds at once. The test program counts every allocation: in a
// build with AddressSanitizer through its allocation hooks (every malloc, FFmpeg's included), in
// other builds through the global operator new (the program's own containers).
//
//   AllocationMeter meter;
//   ... code under test ...
//   EXPECT_LT(meter.PeakBytes(), 64 << 20);
#pragma once

#include <cstdint>

namespace calvex::testing {

class AllocationMeter {
 public:
  AllocationMeter();   // starts measuring from what is held now
  ~AllocationMeter();  // stops
  AllocationMeter(const AllocationMeter&) = delete;
  AllocationMeter& operator=(const AllocationMeter&) = delete;

  // The most bytes held at once since the meter started, above what was held when it started.
  std::int64_t PeakBytes() const;
  // The largest single allocation since the meter started.
  std::int64_t LargestBlock() const;
};

}  // namespace calvex::testing
