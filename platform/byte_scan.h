#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ostrevane::platform {

// Searches of short texts for one or two bytes, sixteen bytes at a time.
// Log lines are some 70 bytes long: a library search call per line or per
// field costs more than the search itself.

namespace detail {

#ifdef __SSE2__
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

}  // namespace detail

// Calls visit(offset) for every offset of `byte` in `text`, in order, until
// visit returns false.
template <typename Visit>
void ForEachByte(std::string_view text, char byte, Visit visit) {
  const char* data = text.data();
  std::size_t i = 0;
#ifdef __SSE2__
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
  for (; i < text.size(); ++i) {
    if (data[i] == byte && !visit(i)) return;
  }
}

// The offset of the first `a` or `b` in `text`, or npos.
inline std::size_t FindEither(std::string_view text, char a, char b) {
  const char* data = text.data();
  std::size_t i = 0;
#ifdef __SSE2__
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
  for (; i < text.size(); ++i) {
    if (data[i] == a || data[i] == b) return i;
  }
  return std::string_view::npos;
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
  const char* data = text.data();
  std::size_t i = 0;
#ifdef __SSE2__
  const __m128i wantedA = _mm_set1_epi8(a);
  const __m128i wantedB = _mm_set1_epi8(b);
  for (; i + 64 <= text.size(); i += 64) {
    marks[i / 64] = detail::MatchMask64(data + i, wantedA, wantedB);
  }
#endif
  if (i == text.size()) return;
  std::uint64_t last = 0;
  for (std::size_t bit = 0; i + bit < text.size(); ++bit) {
    if (data[i + bit] == a || data[i + bit] == b) last |= std::uint64_t{1} << bit;
  }
  marks[i / 64] = last;
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
