// The list-file loader: any bytes either load or are refused as damaged (139); a list that loads
// saves back to bytes that load to the same list.
#include <vector>

#include "engine/list_file.h"

#include "fuzz/fuzz_target.h"

using namespace calvex;

CALVEX_FUZZ_TARGET(list_file_fuzz) {
  SourceList list;
  const Status s = DecodeList({data, size}, list);
  if (s != kOk) {
    CALVEX_FUZZ_CHECK(s == kListFileCorrupted && list.entries.empty());
    return 0;
  }
  std::vector<std::uint8_t> saved;
  CALVEX_FUZZ_CHECK(EncodeList(list, saved) == kOk);
  SourceList again;
  CALVEX_FUZZ_CHECK(DecodeList(saved, again) == kOk);
  std::vector<std::uint8_t> savedAgain;
  CALVEX_FUZZ_CHECK(EncodeList(again, savedAgain) == kOk && savedAgain == saved);
  return 0;
}
