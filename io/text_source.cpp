#include "io/text_source.h"

#include <cstring>

namespace ostrevane::io {
namespace {

constexpr unsigned char kBomLe[] = {0xFF, 0xFE};
constexpr unsigned char kBomBe[] = {0xFE, 0xFF};
constexpr unsigned kReplacement = 0xFFFD;

bool StartsWith(const char* data, const unsigned char (&mark)[2]) {
  return std::memcmp(data, mark, sizeof mark) == 0;
}

bool MayStartMark(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value == kBomLe[0] || value == kBomBe[0];
}

bool IsHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::size_t Utf8Length(unsigned codePoint) {
  return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

void PutUtf8(unsigned codePoint, std::size_t length, char* out) {
  if (length == 1) {
    out[0] = static_cast<char>(codePoint);
    return;
  }
  static constexpr unsigned kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::size_t i = length - 1; i > 0; --i) {
    out[i] = static_cast<char>(0x80 | (codePoint & 0x3F));
    codePoint >>= 6;
  }
  out[0] = static_cast<char>(kLead[length] | codePoint);
}

}  // namespace

TextSource::TextSource(os::FileSystem& fileSystem, os::FileSystem::Handle handle,
                       std::size_t blockSize)
    : fileSystem_(fileSystem), handle_(handle), blockSize_(blockSize) {}

int TextSource::ReadFirst(char* data, std::size_t size, std::size_t& got) {
  got = 0;
  // A byte kept from an earlier read, which alone could not say whether the
  // file starts with a mark.
  std::size_t have = 0;
  if (firstByteHeld_) data[have++] = firstByte_;
  while (have < 2) {
    std::size_t more = 0;
    if (int error = fileSystem_.Read(handle_, data + have, size - have, more); error != 0)
      return error;
    if (more == 0) break;
    have += more;
    if (!MayStartMark(data[0])) break;
  }
  firstByteHeld_ = false;
  // A file still empty may yet start with a mark, once it is written.
  if (have == 0) return 0;
  if (have == 1 && MayStartMark(data[0])) {
    // The second byte decides; it may come with a later write.
    firstByte_ = data[0];
    firstByteHeld_ = true;
    return 0;
  }
  got = have;
  const bool little = got >= 2 && StartsWith(data, kBomLe);
  const bool big = got >= 2 && StartsWith(data, kBomBe);
  if (!little && !big) {
    encoding_ = Encoding::Bytes;
    return 0;
  }
  encoding_ = little ? Encoding::Utf16Le : Encoding::Utf16Be;
  // Twice a block, so that a block of ASCII text decodes into a full block.
  held_ = std::make_unique<char[]>(2 * blockSize_);
  std::memcpy(held_.get(), data + 2, got - 2);
  end_ = got - 2;
  return ReadUtf16(data, size, got);
}

int TextSource::ReadUtf16(char* data, std::size_t size, std::size_t& got) {
  for (;;) {
    got = Decode(data, size);
    if (got != 0) return 0;
    // Too little held for one character: the rest of it is read.
    std::memmove(held_.get(), held_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    std::size_t read = 0;
    if (int error = fileSystem_.Read(handle_, held_.get() + end_, 2 * blockSize_ - end_, read);
        error != 0)
      return error;
    if (read == 0) return 0;
    end_ += read;
  }
}

unsigned TextSource::UnitAt(std::size_t offset) const {
  const auto first = static_cast<unsigned char>(held_[offset]);
  const auto second = static_cast<unsigned char>(held_[offset + 1]);
  return encoding_ == Encoding::Utf16Le ? first | second << 8 : first << 8 | second;
}

std::size_t TextSource::Decode(char* data, std::size_t size) {
  std::size_t produced = 0;
  while (end_ - begin_ >= 2) {
    unsigned codePoint = UnitAt(begin_);
    std::size_t units = 1;
    if (IsHighSurrogate(codePoint)) {
      // Its pair may come with the next read.
      if (end_ - begin_ < 4) break;
      const unsigned low = UnitAt(begin_ + 2);
      if (IsLowSurrogate(low)) {
        codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
        units = 2;
      } else {
        codePoint = kReplacement;
      }
    } else if (IsLowSurrogate(codePoint)) {
      codePoint = kReplacement;
    }
    const std::size_t length = Utf8Length(codePoint);
    if (size - produced < length) break;
    PutUtf8(codePoint, length, data + produced);
    produced += length;
    begin_ += 2 * units;
  }
  return produced;
}

}  // namespace ostrevane::io
