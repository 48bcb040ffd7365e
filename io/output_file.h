#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "io/block_ring.h"
#include "io/write_behind.h"
#include "messages/messages.h"
#include "os/file_system.h"
#include "os/interrupts.h"

namespace ostrevane::io {

// Removes the temporary files that earlier runs of this program left beside
// `path` when they were killed outright (SIGKILL, a power cut) on a file
// system without unnamed files (FAT through FUSE): those of the name
// OutputFile gives, whose process no longer runs.
void RemoveStaleTemporaries(os::FileSystem& fileSystem, const std::string& path);

// An output written to a temporary file beside the file it replaces, put in
// its place only once it is complete. Where the file system allows, the
// temporary has no name until then (on Windows, the system removes it when
// its handle closes), so that nothing is left behind whatever ends the
// program; otherwise its name is removed on the usual interrupting signals.
// The text is gathered in blocks that another thread writes out.
class OutputFile {
 public:
  OutputFile(os::FileSystem& fileSystem, std::string path);
  ~OutputFile();

  // Adds `text` and CR LF. Inline: it runs for every line of every KML file.
  void PrintLine(std::string_view text) {
    if (used_ + text.size() + 2 > kBlockSize) {
      Append(text);
      Append("\r\n");
      return;
    }
    std::memcpy(block_ + used_, text.data(), text.size());
    used_ += text.size();
    block_[used_++] = '\r';
    block_[used_++] = '\n';
  }

  // Adds `text` as it is, without a line end.
  void Print(std::string_view text) { Append(text); }

  // Starts the file with the next `length` bytes of `from`, copied by the
  // system (inside the kernel where it can). Only before any PrintLine.
  void CopyFrom(os::FileSystem::Handle from, std::uint64_t length);
  // Bytes in the file so far, copied or printed.
  std::uint64_t Size() const { return submitted_ + used_; }

  // Writes out everything and puts the file in place. On failure nothing is
  // left behind and whatever was at the path stays as it was.
  void Finish();

  // Hands every byte to the system; the file is not in place yet.
  void WriteOut();

  // Durable before it takes the place of the user's earlier file, so that a
  // crash right after leaves the old file or the new, never an empty one. A
  // new file has no earlier one to protect.
  void MakeDurable();
  bool NeedsSync() const { return replacing_ && durable_; }
  // For files that a crash may leave empty without loss, since they are
  // written again as a matter of course: replaced without waiting for the
  // disk.
  void SkipDurability() { durable_ = false; }
  os::FileSystem::Handle OpenHandle() const { return handle_; }
  const std::string& Path() const { return path_; }
  // Where the sync of several files at once failed for this one.
  [[noreturn]] void FailToSync(int error);
  void PutInPlace();

  void Abandon() noexcept;

 private:
  [[noreturn]] void Fail(messages::FileAction action, int error);
  void CreateTemporary();
  // Gives the new file the earlier one's permissions, owner and group.
  void KeepPermissions();

  // Tries names beside the target until one is free; `create` makes the file
  // under a name and answers 0 or the error met.
  template <typename Create>
  void UseFreeName(Create create);

  // The file itself may be written, but its folder may not hold a new file:
  // that is what the user must change.
  [[noreturn]] void FailInFolder(int error);
  void CreateNamedTemporary();

  // A new file takes its name at once; false when the name was taken in the
  // meantime, so the file must replace what is there now.
  bool LinkedInPlace();
  // The file replaces the earlier one without taking a name of its own
  // first; false where the file system can't do that.
  bool LinkedOver();
  void NameTemporary();

  // Adds `bytes` across as many blocks as they need.
  void Append(std::string_view bytes);
  void SubmitBlock();

  void RemoveTemporary() noexcept;
  void ForgetTemporary() noexcept;

  os::FileSystem& fileSystem_;
  std::string path_;
  std::string target_;
  bool replacing_ = false;
  bool durable_ = true;
  // The temporary's name; empty while it has none.
  std::string temporary_;
  std::unique_ptr<os::RemovedOnInterruption> removedOnInterruption_;
  bool unnamed_ = false;
  os::FileSystem::Handle handle_ = -1;
  bool open_ = false;
  std::unique_ptr<WriteBehind> writeBehind_;
  char* block_ = nullptr;
  std::size_t used_ = 0;
  // Bytes copied in or handed to the writing thread.
  std::uint64_t submitted_ = 0;
};

}  // namespace ostrevane::io
