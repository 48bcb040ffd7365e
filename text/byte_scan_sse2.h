#pragma once

#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The searches sixteen bytes at a time, for processors with SSE2. Each
// takes a text of at least sixteen bytes: the last sixteen are read again,
// overlapping the block before them, rather than byte by byte.
namespace ostrevane::text::detail {

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

// Calls visit(offset) for the set bits of `mask`, in order, each plus
// `base`; false once visit has returned false.
template <typename Visit>
bool VisitMask(unsigned mask, std::size_t base, Visit& visit) {
  for (; mask != 0; mask &= mask - 1) {
    if (!visit(base + static_cast<std::size_t>(std::countr_zero(mask)))) return false;
  }
  return true;
}

template <typename Visit>
void ForEachByteSse2(std::string_view text, char byte, Visit visit) {
  const char* data = text.data();
  const __m128i wanted = _mm_set1_epi8(byte);
  std::size_t i = 0;
  for (; i + 16 <= text.size(); i += 16) {
    if (!VisitMask(MatchMask(data + i, wanted, wanted), i, visit)) return;
  }
  if (i == text.size()) return;
  // The last sixteen bytes, less those already seen.
  const std::size_t last = text.size() - 16;
  VisitMask(MatchMask(data + last, wanted, wanted) >> (i - last) << (i - last), last, visit);
}

inline std::size_t FindEitherSse2(std::string_view text, char a, char b) {
  const char* data = text.data();
  const __m128i wantedA = _mm_set1_epi8(a);
  const __m128i wantedB = _mm_set1_epi8(b);
  std::size_t i = 0;
  for (; i + 16 <= text.size(); i += 16) {
    if (const unsigned mask = MatchMask(data + i, wantedA, wantedB); mask != 0)
      return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  if (i == text.size()) return std::string_view::npos;
  // The last sixteen bytes, less those already seen.
  const std::size_t last = text.size() - 16;
  const unsigned mask = MatchMask(data + last, wantedA, wantedB) >> (i - last);
  return mask != 0 ? i + static_cast<std::size_t>(std::countr_zero(mask)) : std::string_view::npos;
}

// Sixteen bytes of ones, then sixteen of zeros.
inline constexpr unsigned char kOnesThenZeros[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Bytes 0 to count - 1 all ones, the others zero; `count` from 0 to 16. One
// load: SSE2 has no cheap way to spread a byte over a register.
inline __m128i FirstBytes(int count) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOnesThenZeros + 16 - count));
}

// The XOR of the sixteen bytes of `block`, in the low byte.
inline unsigned FoldedXor(__m128i block) {
  block = _mm_xor_si128(block, _mm_srli_si128(block, 8));
  block = _mm_xor_si128(block, _mm_srli_si128(block, 4));
  block = _mm_xor_si128(block, _mm_srli_si128(block, 2));
  block = _mm_xor_si128(block, _mm_srli_si128(block, 1));
  return static_cast<unsigned>(_mm_cvtsi128_si32(block)) & 0xFF;
}

inline std::size_t XorUpToSse2(std::string_view text, char byte, unsigned& sum) {
  const char* data = text.data();
  const __m128i wanted = _mm_set1_epi8(byte);
  __m128i folded = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
    if (mask != 0) {
      const int found = std::countr_zero(mask);
      sum ^= FoldedXor(_mm_xor_si128(folded, _mm_and_si128(block, FirstBytes(found))));
      return i + static_cast<std::size_t>(found);
    }
    folded = _mm_xor_si128(folded, block);
  }
  std::size_t offset = std::string_view::npos;
  if (i < text.size()) {
    // The last sixteen bytes, less those already seen.
    const std::size_t last = text.size() - 16;
    const int seen = static_cast<int>(i - last);
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + last));
    const unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted))) >> seen << seen;
    const int end = mask != 0 ? std::countr_zero(mask) : 16;
    if (mask != 0) offset = last + static_cast<std::size_t>(end);
    const __m128i unseen = _mm_andnot_si128(FirstBytes(seen), FirstBytes(end));
    folded = _mm_xor_si128(folded, _mm_and_si128(block, unseen));
  }
  sum ^= FoldedXor(folded);
  return offset;
}

// Marks the whole 64-byte words of `text` (any length); answers how many
// bytes that covers, for the byte-by-byte marking of the rest.
inline std::size_t MarkWholeWordsSse2(std::string_view text, char a, char b, std::uint64_t* marks) {
  const __m128i wantedA = _mm_set1_epi8(a);
  const __m128i wantedB = _mm_set1_epi8(b);
  std::size_t i = 0;
  for (; i + 64 <= text.size(); i += 64) {
    marks[i / 64] = MatchMask64(text.data() + i, wantedA, wantedB);
  }
  return i;
}

}  // namespace ostrevane::text::detail
