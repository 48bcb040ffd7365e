#include "text/byte_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ostrevane::text {
namespace {

// Every length up to three blocks of sixteen and every position of the
// wanted bytes, against the plain library search: the block loop, the
// overlapping last block and the short-text loop each have their own edges.
// The byte-by-byte paths, all that processors without SSE2 have, from every
// offset too.
TEST(ByteScanTest, FindsWhatTheLibraryFinds) {
  for (std::size_t size = 0; size <= 48; ++size) {
    for (std::size_t first = 0; first <= size; ++first) {
      for (std::size_t second = first; second <= size; ++second) {
        std::string text(size, 'x');
        if (first < size) text[first] = ',';
        if (second < size) text[second] = '$';
        const std::string_view view(text);
        ASSERT_EQ(FindEither(view, ',', '$'), view.find_first_of(",$")) << text;
        ASSERT_EQ(FindByte(view, '$'), view.find('$')) << text;
        for (std::size_t from = 0; from <= size; ++from)
          ASSERT_EQ(detail::FindEitherPortable(view, from, ',', '$'),
                    view.find_first_of(",$", from))
              << text << " from " << from;

        std::vector<std::size_t> visited;
        ForEachByte(view, ',', [&](std::size_t offset) {
          visited.push_back(offset);
          return true;
        });
        std::vector<std::size_t> expected;
        for (std::size_t i = view.find(','); i != std::string_view::npos; i = view.find(',', i + 1))
          expected.push_back(i);
        ASSERT_EQ(visited, expected) << text;
        visited.clear();
        detail::ForEachBytePortable(view, 0, ',', [&](std::size_t offset) {
          visited.push_back(offset);
          return true;
        });
        ASSERT_EQ(visited, expected) << text;
      }
    }
  }
}

// Marks span several words: lengths up to a few words, each with two wanted
// bytes, and marks left over from a longer text that must not show through.
// The byte-by-byte marking, which serves processors without SSE2, must set
// the very same words.
TEST(ByteScanTest, MarksAreFoundInOrderFromAnyOffset) {
  for (std::size_t size = 0; size <= 200; ++size) {
    for (std::size_t first = 0; first <= size; first += 3) {
      std::string text(size, 'x');
      if (first < size) text[first] = '\r';
      const std::size_t second = (first * 7 + 5) % (size + 1);
      if (second < size) text[second] = '\n';
      std::vector<std::uint64_t> marks(4, ~std::uint64_t{0});
      MarkEither(text, '\r', '\n', marks.data());
      std::vector<std::uint64_t> portable(4, ~std::uint64_t{0});
      detail::MarkEitherPortable(text, 0, '\r', '\n', portable.data());
      ASSERT_EQ(portable, marks) << "size " << size;
      for (std::size_t from = 0; from <= size; from += 5) {
        std::vector<std::size_t> found;
        for (std::size_t at = NextMark(marks.data(), from, size); at != std::string_view::npos;
             at = NextMark(marks.data(), at + 1, size))
          found.push_back(at);
        std::vector<std::size_t> expected;
        for (std::size_t at = text.find_first_of("\r\n", from); at != std::string::npos;
             at = text.find_first_of("\r\n", at + 1))
          expected.push_back(at);
        ASSERT_EQ(found, expected) << "size " << size << " from " << from;
      }
    }
  }
}

// Every length up to three blocks of sixteen, with the byte at every place,
// or nowhere, and once more after it: the block loop and the overlapping last
// block must take each byte before the first one once, and none after it.
// The byte-by-byte path too, all that processors without SSE2 have.
TEST(ByteScanTest, XorsEveryByteUpToTheFirstWanted) {
  for (std::size_t size = 0; size <= 48; ++size) {
    for (std::size_t at = 0; at <= size; ++at) {
      std::string text;
      for (std::size_t i = 0; i < size; ++i) text += static_cast<char>('0' + i);
      if (at < size) text[at] = '*';
      if (at + 5 < size) text[at + 5] = '*';
      unsigned expected = 0x100;  // XOR leaves what the sum held
      for (std::size_t i = 0; i < at; ++i) expected ^= static_cast<unsigned char>(text[i]);
      const std::size_t offset = at < size ? at : std::string_view::npos;
      unsigned sum = 0x100;
      ASSERT_EQ(XorUpTo(text, '*', sum), offset) << text;
      ASSERT_EQ(sum, expected) << text;
      sum = 0x100;
      ASSERT_EQ(detail::XorUpToPortable(text, 0, '*', sum), offset) << text;
      ASSERT_EQ(sum, expected) << text;
    }
  }
}

TEST(ByteScanTest, ForEachByteStopsWhenAsked) {
  const std::string text(40, ',');
  for (std::size_t wanted = 1; wanted <= text.size(); ++wanted) {
    std::size_t visits = 0;
    ForEachByte(text, ',', [&](std::size_t) { return ++visits < wanted; });
    EXPECT_EQ(visits, wanted);
  }
}

}  // namespace
}  // namespace ostrevane::text
