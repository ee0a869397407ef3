#include "video_encoder/coding_order.h"

#include <algorithm>

namespace calvex::video {

std::vector<CodedPicture> CodingOrder(int n) {
  std::vector<CodedPicture> order;
  order.reserve(static_cast<std::size_t>(std::max(n, 0)));
  for (int i = 0; i < n; ++i) {
    CodedPicture p;
    p.groupFirst = std::max(12 * ((i + 2) / 12) - 2, 0);
    if (i == 0 || (i - 1) % 3 == 0) {
      p.displayNumber = i == 0 ? 0 : std::min(i + 2, n - 1);
      if (i == p.groupFirst) {
        p.pictureType = 1;
        p.startsGroup = true;
        const int size = std::min(i == 0 ? 10 : 12, n - p.groupFirst);
        p.groupP = i == 0 ? (size + 4) / 3 - 1 : (size + 2) / 3 - 1;
        p.groupB = size - p.groupP - 1;
      } else {
        p.pictureType = 2;
      }
    } else {
      p.pictureType = 3;
      p.displayNumber = i - 1;
      p.firstB = (i - 2) % 3 == 0;
    }
    order.push_back(p);
  }
  return order;
}

}  // namespace calvex::video
