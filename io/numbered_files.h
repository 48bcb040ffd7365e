#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/file_system.h"

namespace ostrevane::io {

class InputFile;
class OutputFile;

// Files by number keep the design's shape (README, "Names and shapes from the design"): the run and
// the writer name their files by number, as the design's code does.
//
// Sequential text files addressed by small numbers, 1 to 255.
//
// Input files are read line by line; CR LF, a lone CR and a lone LF each end a
// line. Output files are written to a temporary file beside their path and
// only replace it when closed, so a file that is abandoned half-way leaves
// whatever was at that path untouched.
//
// Every failure throws FileError.
class NumberedFiles {
 public:
  static constexpr int kMaxNumber = 255;

  explicit NumberedFiles(os::FileSystem& fileSystem = os::SystemFileSystem());
  ~NumberedFiles();
  NumberedFiles(const NumberedFiles&) = delete;
  NumberedFiles& operator=(const NumberedFiles&) = delete;

  // The lowest number not in use.
  int FreeFile() const;
  bool IsOpen(int number) const;

  // A named pipe is read as `fifo` says; refused by default, since a reader
  // that waits for its writer may freeze a window.
  void OpenForInput(int number, const std::string& path,
                    os::FileSystem::FifoReading fifo = os::FileSystem::FifoReading::Refused);
  // At the end of the input: no further line.
  bool Eof(int number);
  // The next line without its terminator, valid until the next call on this
  // number. A line longer than a few hundred kilobytes comes in parts: see
  // LineGoesOn.
  std::string_view LineInput(int number);
  // Whether the text that LineInput gave last is only a part of its line,
  // which the next call continues (unless the file ends first).
  bool LineGoesOn(int number);

  // Follows an input that is still being written (see InputFile): a line
  // without its end waits for the rest.
  void FollowGrowth(int number);
  bool LineHeld(int number);
  void ReadOnAfterEnd(int number);
  std::string_view ReleaseHeldLine(int number);
  // Which file the input is, its size and how far it was read: 0 or errno.
  int InputStatus(int number, os::FileSystem::Status& status);
  // Reads bytes at `offset` of the input, its reading position unchanged:
  // 0 or errno.
  int InputReadAt(int number, std::uint64_t offset, char* data, std::size_t size, std::size_t& got);

  // Checks that `path` may be replaced and opens a temporary file beside it.
  // `durable`: made durable before it replaces a file; a file written again
  // as a matter of course (a followed route's pieces) needs not wait for the
  // disk.
  void OpenForOutput(int number, const std::string& path, bool durable = true);
  // Starts the output with the next `length` bytes of `from`; before any
  // PrintLine.
  void CopyInto(int number, os::FileSystem::Handle from, std::uint64_t length);
  // Bytes in the output so far.
  std::uint64_t OutputSize(int number);
  // Writes `text` followed by CR LF.
  void PrintLine(int number, std::string_view text);
  // Writes `text` as it is.
  void Print(int number, std::string_view text);

  // Closes the file. An output file is flushed and then moved over its path.
  void Close(int number);
  // Closes the file without finishing it: an output file's temporary file is
  // removed. Never throws; a number not in use is ignored.
  void Abandon(int number);
  void AbandonAll();

  // From now on Close leaves an output complete but waiting, instead of
  // putting it in place at once, until PutWaitingInPlace: the files that
  // replace earlier ones then share one wait for the disk.
  void WaitForSharedSync() { waitForSharedSync_ = true; }
  std::size_t WaitingCount() const { return waiting_.size(); }
  struct Placed {
    std::string path;
    std::string failure;  // empty when the file is in place
  };
  // Puts every waiting output in place, each made durable first when it
  // replaces a file; answers for each, in the order they were closed.
  std::vector<Placed> PutWaitingInPlace();

 private:
  InputFile& Input(int number);
  OutputFile& Output(int number);
  void CheckNumber(int number) const;

  os::FileSystem& fileSystem_;
  std::array<std::unique_ptr<InputFile>, kMaxNumber + 1> inputs_;
  std::array<std::unique_ptr<OutputFile>, kMaxNumber + 1> outputs_;
  bool waitForSharedSync_ = false;
  std::vector<std::unique_ptr<OutputFile>> waiting_;
};

}  // namespace ostrevane::io
