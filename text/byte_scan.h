#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/byte_scan_portable.h"

// Every x86-64 processor has SSE2, but only GCC and Clang say so with
// __SSE2__; MSVC says _M_X64 (or _M_IX86_FP for 32-bit builds that use it).
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define OSTREVANE_BYTE_SCAN_SSE2 1
#include "text/byte_scan_sse2.h"
#endif

namespace ostrevane::text {

// Searches of short texts for one or two bytes, sixteen bytes at a time
// where the processor can. Log lines are some 70 bytes long: a library
// search call per line or per field costs more than the search itself.

// Calls visit(offset) for every offset of `byte` in `text`, in order, until
// visit returns false.
template <typename Visit>
void ForEachByte(std::string_view text, char byte, Visit visit) {
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  if (text.size() >= 16) return detail::ForEachByteSse2(text, byte, visit);
#endif
  detail::ForEachBytePortable(text, 0, byte, visit);
}

// The offset of the first `a` or `b` in `text`, or npos.
inline std::size_t FindEither(std::string_view text, char a, char b) {
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  if (text.size() >= 16) return detail::FindEitherSse2(text, a, b);
#endif
  return detail::FindEitherPortable(text, 0, a, b);
}

// The offset of the first `byte` in `text`, or npos.
inline std::size_t FindByte(std::string_view text, char byte) {
  return FindEither(text, byte, byte);
}

// XORs into `sum` every byte of `text` before its first `byte`, and answers
// the offset of that byte, or npos when there is none (every byte XORed). A
// checksum and the end of what it covers, in one pass.
inline std::size_t XorUpTo(std::string_view text, char byte, unsigned& sum) {
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  if (text.size() >= 16) return detail::XorUpToSse2(text, byte, sum);
#endif
  return detail::XorUpToPortable(text, 0, byte, sum);
}

// Marks every offset of `a` or `b` in `text`: bit i % 64 of marks[i / 64] is
// set where text[i] is one of them, and every other bit is clear. `marks`
// holds (text.size() + 63) / 64 words. Marking a whole block at once, ahead of
// its use, spares a search per line.
inline void MarkEither(std::string_view text, char a, char b, std::uint64_t* marks) {
  std::size_t marked = 0;
#ifdef OSTREVANE_BYTE_SCAN_SSE2
  marked = detail::MarkWholeWordsSse2(text, a, b, marks);
#endif
  detail::MarkEitherPortable(text, marked, a, b, marks);
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

}  // namespace ostrevane::text
