#include "text/number_read.h"

#include <fast_float/fast_float.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "text/characters.h"
#include "text/plain_decimal.h"

namespace ostrevane::text {
namespace {

// Log fields are short; a numeric prefix longer than this is copied to the heap.
constexpr std::size_t kShortNumberLength = 64;

// The characters of `text` with blanks, tabs and line feeds removed, one at a
// time, so that the lenient reading never copies more than its numeric prefix.
class CompactText {
 public:
  explicit CompactText(std::string_view text) : text_(text) { SkipIgnored(); }

  bool AtEnd() const { return position_ == text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }
  void Advance() {
    ++position_;
    SkipIgnored();
  }

 private:
  void SkipIgnored() {
    while (!AtEnd() && IsIgnoredInLenientText(text_[position_])) ++position_;
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

// Collects the accepted characters of a number: on the stack while they fit,
// then in a string, so that very long fields are still read in full.
class NumberText {
 public:
  void Append(char c) {
    if (length_ < kShortNumberLength) {
      shortText_[length_] = c;
    } else {
      if (longText_.empty()) longText_.assign(shortText_, kShortNumberLength);
      longText_.push_back(c);
    }
    ++length_;
  }
  // Forgets the characters after the first `length`.
  void Truncate(std::size_t length) {
    length_ = length;
    if (length_ <= kShortNumberLength) {
      longText_.clear();
    } else {
      longText_.resize(length_);
    }
  }
  std::size_t Length() const { return length_; }
  std::string_view View() const {
    return length_ <= kShortNumberLength ? std::string_view(shortText_, length_)
                                         : std::string_view(longText_);
  }

 private:
  char shortText_[kShortNumberLength];
  std::string longText_;
  std::size_t length_ = 0;
};

// Appends the digits at the head of `text`; returns how many there were.
std::size_t TakeDigits(CompactText& text, NumberText& number) {
  std::size_t count = 0;
  for (; IsDigit(text.Peek()); text.Advance(), ++count) number.Append(text.Peek());
  return count;
}

// Appends an exponent ("e", an optional sign, digits) when one follows, and
// takes back its marker and sign when no digit comes after them.
void TakeExponent(CompactText& text, NumberText& number) {
  if (text.Peek() != 'e' && text.Peek() != 'E') return;
  const std::size_t mantissaLength = number.Length();
  number.Append('e');
  text.Advance();
  if (text.Peek() == '+' || text.Peek() == '-') {
    number.Append(text.Peek());
    text.Advance();
  }
  if (TakeDigits(text, number) == 0) number.Truncate(mantissaLength);
}

// Whether the digits before any exponent include one that is not zero.
bool HasNonZeroMantissa(std::string_view number) {
  for (const char c : number) {
    if (c == 'e' || c == 'E') return false;
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

// Converts `number`, which must be a decimal number from end to end, to the
// nearest double. fast_float reads it the same way on every platform and in
// every locale (the C++ library's from_chars for doubles is missing from
// libc++); a magnitude beyond the range of a double, which it gives as
// infinity or zero, is refused, as from_chars refuses it.
bool ConvertWhole(std::string_view number, double& value) {
  double converted = 0.0;
  const char* last = number.data() + number.size();
  const auto [end, error] = fast_float::from_chars(number.data(), last, converted);
  if (error != std::errc{} || end != last || std::isinf(converted)) return false;
  if (converted == 0.0 && HasNonZeroMantissa(number)) return false;
  value = converted;
  return true;
}

// Reads an unsigned decimal number that has already been checked to be one;
// a value beyond the range of a double gives 0.
double ConvertUnsigned(std::string_view digits) {
  double value = 0.0;
  return ConvertWhole(digits, value) ? value : 0.0;
}

// Removes one leading sign, which the conversion would reject ("+") or accept
// in front of "inf" and "nan"; says whether it was a minus.
bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

double ReadLenient(std::string_view text) {
  if (double value; ReadPlainDecimal(text, value)) return value;
  CompactText compact(text);
  bool negative = false;
  if (compact.Peek() == '+' || compact.Peek() == '-') {
    negative = compact.Peek() == '-';
    compact.Advance();
  }
  NumberText number;
  std::size_t digitCount = TakeDigits(compact, number);
  if (compact.Peek() == '.') {
    number.Append('.');
    compact.Advance();
    digitCount += TakeDigits(compact, number);
  }
  if (digitCount == 0) return 0.0;
  TakeExponent(compact, number);
  const double value = ConvertUnsigned(number.View());
  return negative ? -value : value;
}

bool ReadStrict(std::string_view text, double& value) {
  // The two digits of a time group, the usual case.
  if (int twoDigits = 0; ReadTwoDigits(text, twoDigits)) {
    value = twoDigits;
    return true;
  }
  std::string_view number = TrimBlanks(text);
  const bool negative = TakeSign(number);
  // Only a digit or a point may follow the sign: this keeps out "inf", "nan"
  // and a second sign, which the conversion would take.
  if (number.empty() || !(IsDigit(number.front()) || number.front() == '.')) return false;
  double magnitude = 0.0;
  if (!ConvertWhole(number, magnitude)) return false;
  value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace ostrevane::text
