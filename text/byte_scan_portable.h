#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The byte-by-byte searches, from offset `from` on. They serve processors
// without SSE2 and the short texts and tails that the vector loops leave;
// the tests call them directly, so that they are checked on every processor.
namespace ostrevane::text::detail {

template <typename Visit>
void ForEachBytePortable(std::string_view text, std::size_t from, char byte, Visit visit) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == byte && !visit(i)) return;
  }
}

inline std::size_t FindEitherPortable(std::string_view text, std::size_t from, char a, char b) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == a || text[i] == b) return i;
  }
  return std::string_view::npos;
}

inline std::size_t XorUpToPortable(std::string_view text, std::size_t from, char byte,
                                   unsigned& sum) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == byte) return i;
    sum ^= static_cast<unsigned char>(text[i]);
  }
  return std::string_view::npos;
}

// `from` is a multiple of 64: each word of marks covers 64 bytes.
inline void MarkEitherPortable(std::string_view text, std::size_t from, char a, char b,
                               std::uint64_t* marks) {
  for (std::size_t word = from; word < text.size(); word += 64) {
    const std::size_t end = text.size() - word < 64 ? text.size() : word + 64;
    std::uint64_t bits = 0;
    for (std::size_t i = word; i < end; ++i) {
      if (text[i] == a || text[i] == b) bits |= std::uint64_t{1} << (i - word);
    }
    marks[word / 64] = bits;
  }
}

}  // namespace ostrevane::text::detail
