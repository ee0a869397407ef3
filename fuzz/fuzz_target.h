// How a fuzz target is declared. Built with libFuzzer (the fuzz tree), CALVEX_FUZZ_TARGET(name)
// defines the program's LLVMFuzzerTestOneInput. Built into the regression tests
// (tests/robustness/, CALVEX_FUZZ_REGISTRY defined), it defines a function that the tests find by
// the target's name and run over every saved input of that target.
//
//   CALVEX_FUZZ_TARGET(list_file_fuzz) {   // data, size
//     ...
//     CALVEX_FUZZ_CHECK(condition);        // a broken promise of the code under test
//     return 0;
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace calvex::fuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

#ifdef CALVEX_FUZZ_REGISTRY
// Registers `function` under `name` (tests/robustness/regression_test.cpp defines these).
bool RegisterTarget(const char* name, TargetFunction function);
// The target called `name`, or nullptr.
TargetFunction FindTarget(const char* name);
#endif

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace calvex::fuzz

#define CALVEX_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::calvex::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

#ifdef CALVEX_FUZZ_REGISTRY
#define CALVEX_FUZZ_TARGET(name)                               \
  static int name(const std::uint8_t* data, std::size_t size); \
  [[maybe_unused]] static const bool name##Registered =        \
      ::calvex::fuzz::RegisterTarget(#name, name);             \
  static int name(const std::uint8_t* data, std::size_t size)
#else
#define CALVEX_FUZZ_TARGET(name) \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#endif
