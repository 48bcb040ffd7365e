#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Every x86-64 processor has SSE2, but only GCC and Clang say so with
// __SSE2__; MSVC says _M_X64 (or _M_IX86_FP for 32-bit builds that use it).
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define OSTREVANE_BYTE_SCAN_SSE2 1
#include <emmintrin.h>
#endif

namespace ostrevane::platform {

// Searches of short texts for one or two bytes, sixteen bytes at a time.
// Log lines are some 70 bytes long: a library search call per line or per
// field costs more than the search itself.

namespace detail {

#ifdef OSTREVANE_BYTE_SCAN_SSE2
// Bit i is set where byte i of the 16 at `p` equals `a` or `b`.
inline unsigned MatchMask(const char* p, __m128i a, __m128i b) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, a), _mm_cmpeq_epi8(block, b))));
}
// The same for the 64 bytes at `p`, in one word.
inline std::uint64_t MatchMask64(const char* p, __m128i a, __m128i b) {
  return std::uint64_t{MatchMask(p, a, b)} | std::uint64_t{MatchMask(p + 16, a, b)} << 16 |
         std::uint64_t{MatchMask(p + 32, a, b)} << 32 |
         std::uint64_t{MatchMask(p + 48, a, b)} << 48;
}
#endif

// The byte-by-byte paths, from offset `from` on. They serve processors
// without SSE2 and the tails the vector loops leave; the tests call them
// directly, so that they are checked on every processor.

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

}  // namespace detail

// Calls visit(offset) for every offset of `byte` in `text`, in order, until
// visit returns false.
template <typename Visit>
void ForEachByte(std::string_view text, char byte, Visit visit) {
  std::size_t i = 0;
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  const char* data = text.data();
  const __m128i wanted = _mm_set1_epi8(byte);
  for (; i + 16 <= text.size(); i += 16) {
    for (unsigned mask = detail::MatchMask(data + i, wanted, wanted); mask != 0; mask &= mask - 1) {
      if (!visit(i + static_cast<std::size_t>(std::countr_zero(mask)))) return;
    }
  }
  if (i < text.size() && text.size() >= 16) {
    // The last sixteen bytes, less those already seen.
    const std::size_t last = text.size() - 16;
    for (unsigned mask = detail::MatchMask(data + last, wanted, wanted) >> (i - last) << (i - last);
         mask != 0; mask &= mask - 1) {
      if (!visit(last + static_cast<std::size_t>(std::countr_zero(mask)))) return;
    }
    return;
  }
#endif
  detail::ForEachBytePortable(text, i, byte, visit);
}

// The offset of the first `a` or `b` in `text`, or npos.
inline std::size_t FindEither(std::string_view text, char a, char b) {
  std::size_t i = 0;
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  const char* data = text.data();
  const __m128i wantedA = _mm_set1_epi8(a);
  const __m128i wantedB = _mm_set1_epi8(b);
  for (; i + 16 <= text.size(); i += 16) {
    if (const unsigned mask = detail::MatchMask(data + i, wantedA, wantedB); mask != 0)
      return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  if (i < text.size() && text.size() >= 16) {
    // The last sixteen bytes, less those already seen.
    const std::size_t last = text.size() - 16;
    const unsigned mask = detail::MatchMask(data + last, wantedA, wantedB) >> (i - last);
    return mask != 0 ? i + static_cast<std::size_t>(std::countr_zero(mask))
                     : std::string_view::npos;
  }
#endif
  return detail::FindEitherPortable(text, i, a, b);
}

// The offset of the first `byte` in `text`, or npos.
inline std::size_t FindByte(std::string_view text, char byte) {
  return FindEither(text, byte, byte);
}

// Marks every offset of `a` or `b` in `text`: bit i % 64 of marks[i / 64] is
// set where text[i] is one of them, and every other bit is clear. `marks`
// holds (text.size() + 63) / 64 words. Marking a whole block at once, ahead of
// its use, spares a search per line.
inline void MarkEither(std::string_view text, char a, char b, std::uint64_t* marks) {
  std::size_t i = 0;
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  const char* data = text.data();
  const __m128i wantedA = _mm_set1_epi8(a);
  const __m128i wantedB = _mm_set1_epi8(b);
  for (; i + 64 <= text.size(); i += 64) {
    marks[i / 64] = detail::MatchMask64(data + i, wantedA, wantedB);
  }
#endif
  detail::MarkEitherPortable(text, i, a, b, marks);
}

// The first offset marked by MarkEither from `from` up to (not including)
// `end`, or npos.
inline std::size_t NextMark(const std::uint64_t* marks, std::size_t from, std::size_t end) {
  if (from >= end) return std::string_view::npos;
  std::size_t word = from / 64;
  const std::size_t lastWord = (end - 1) / 64;
  std::uint64_t bits = marks[word] & (~std::uint64_t{0} << (from % 64));
  while (bits == 0) {
    if (word == lastWord) return std::string_view::npos;
    bits = marks[++word];
  }
  const std::size_t offset = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
  return offset < end ? offset : std::string_view::npos;
}

}  // namespace ostrevane::platform
