// The fixed group-of-pictures structure: 12 pictures per group, a reference picture every third,
// the first group two pictures shorter and closed.
#pragma once

#include <vector>

namespace calvex::video {

struct CodedPicture {
  int displayNumber = 0;  // f
  int pictureType = 1;    // 1 I, 2 P, 3 B
  int groupFirst = 0;     // f0: display number of the group's first picture
  bool startsGroup = false;
  int groupP = 0;  // P and B pictures of the group this I picture starts
  int groupB = 0;
  bool firstB = false;  // the B picture right after its past reference
  int temporalReference() const { return displayNumber - groupFirst; }
};

// The `n` pictures in coding order.
std::vector<CodedPicture> CodingOrder(int n);

}  // namespace calvex::video
