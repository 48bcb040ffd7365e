#include "platform/byte_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrevane::platform {
namespace {

// Every length up to three blocks of sixteen and every position of the
// wanted bytes, against the plain library search: the block loop, the
// overlapping last block and the short-text loop each have their own edges.
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

        std::vector<std::size_t> visited;
        ForEachByte(view, ',', [&](std::size_t offset) {
          visited.push_back(offset);
          return true;
        });
        std::vector<std::size_t> expected;
        for (std::size_t i = view.find(','); i != std::string_view::npos; i = view.find(',', i + 1))
          expected.push_back(i);
        ASSERT_EQ(visited, expected) << text;
      }
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
}  // namespace ostrevane::platform
