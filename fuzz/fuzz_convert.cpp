#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/conversion_check.h"

// libFuzzer's entry point: every input is converted in memory and must come
// out as a sound document. Anything else stops the fuzzer with the reason, and
// libFuzzer keeps the input as a crash file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view logBytes(reinterpret_cast<const char*>(data), size);
  std::string why;
  if (!ostrevane::fuzz::ConvertAndCheck(logBytes, &why)) {
    std::fprintf(stderr, "Conversion check failed: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
