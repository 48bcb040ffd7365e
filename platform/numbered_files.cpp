#include "platform/numbered_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/background_io.h"
#include "platform/byte_scan.h"
#include "platform/file_error.h"
#include "platform/interrupt_cleanup.h"

#ifdef _WIN32
#include <process.h>
#define OSTREVANE_GETPID _getpid
#else
#include <unistd.h>
#define OSTREVANE_GETPID getpid
#endif

namespace ostrevane::platform {

namespace {

// Large enough that a 100 MB log takes a few hundred system calls.
constexpr std::size_t kBufferSize = 256 * 1024;

// The folder part of `path`, with its trailing separator; "" for a bare name.
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const auto slash = path.find_last_of("/\\");
#else
  const auto slash = path.rfind('/');
#endif
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A name for the temporary file beside `path` that no one else uses.
std::string TemporaryName(const std::string& path, bool shortForm) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string unique = std::to_string(OSTREVANE_GETPID()) + "-" +
                             std::to_string(counter.fetch_add(1)) + "-" +
                             std::to_string(static_cast<unsigned long long>(ticks) % 1000000);
  const std::string folder = FolderOf(path);
  if (shortForm) return folder + ".ostrevane-" + unique + ".tmp";
  return folder + "." + path.substr(folder.size()) + "." + unique + ".tmp";
}

// Whether creating a file may have failed only because its name is too long.
// Windows says so with ENOENT or EINVAL, not ENAMETOOLONG; where the folder
// is really missing, the short name fails the same way and that is reported.
bool MayBeTooLongAName(int error) {
  return error == ENAMETOOLONG || error == ENOENT || error == EINVAL;
}

}  // namespace

// A source read line by line, a block at a time, read ahead on another
// thread which also marks the line ends. Lines that lie inside a block are
// handed out in place; only a line that straddles two blocks is copied.
class InputFile {
 public:
  InputFile(FileSystem& fileSystem, std::string path, FileSystem::Handle handle)
      : fileSystem_(fileSystem), path_(std::move(path)), handle_(handle) {
    try {
      readAhead_ = std::make_unique<ReadAhead>(fileSystem, handle, kBufferSize, '\r', '\n');
    } catch (...) {
      // Out of memory for the blocks: the handle is ours to close.
      fileSystem_.Close(handle_);
      throw;
    }
  }
  ~InputFile() {
    // The reading thread stops before its handle goes.
    readAhead_.reset();
    fileSystem_.Close(handle_);
  }

  bool Eof() { return !HaveData(); }
  bool LineGoesOn() const { return goesOn_; }

  std::string_view ReadLine() {
    carried_.clear();
    goesOn_ = false;
    bool straddles = false;
    while (HaveData()) {
      const char* start = block_ + begin_;
      const std::size_t size = end_ - begin_;
      const std::size_t lineEnd = NextMark(marks_, begin_, end_);
      if (lineEnd == std::string_view::npos) {
        // A line longer than a block goes out in parts, so that memory stays
        // bounded however long the line.
        if (carried_.size() + size > kBufferSize && !carried_.empty()) {
          goesOn_ = true;
          return carried_;
        }
        carried_.append(start, size);
        begin_ = end_;
        straddles = true;
        continue;
      }
      const std::size_t length = lineEnd - begin_;
      begin_ = lineEnd + 1;
      if (start[length] == '\r') SkipLfAfterCr();
      if (!straddles) return {start, length};
      carried_.append(start, length);
      break;
    }
    return carried_;
  }

 private:
  // A CR followed by LF ends one line, not two.
  void SkipLfAfterCr() {
    if (begin_ == end_) {
      lfMayFollow_ = true;
    } else if (block_[begin_] == '\n') {
      ++begin_;
    }
  }

  bool HaveData() {
    for (;;) {
      if (begin_ == end_ && !Fill()) return false;
      if (!lfMayFollow_) return true;
      lfMayFollow_ = false;
      if (block_[begin_] == '\n') ++begin_;
    }
  }

  bool Fill() {
    if (atEnd_) return false;
    int error = 0;
    const ReadAhead::Chunk chunk = readAhead_->Next(error);
    if (error != 0) throw FileError(FileAction::Read, path_, error);
    block_ = chunk.bytes.data();
    marks_ = chunk.marks;
    begin_ = 0;
    end_ = chunk.bytes.size();
    atEnd_ = chunk.bytes.empty();
    return !atEnd_;
  }

  FileSystem& fileSystem_;
  std::string path_;
  FileSystem::Handle handle_;
  std::unique_ptr<ReadAhead> readAhead_;
  const char* block_ = nullptr;
  // Where the line ends lie in the block, marked while it was read.
  const std::uint64_t* marks_ = nullptr;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool lfMayFollow_ = false;
  // The last line handed out was only a part; the next one continues it.
  bool goesOn_ = false;
  std::string carried_;
};

// An output written to a temporary file beside the file it replaces, put in
// its place only once it is complete. Where the file system allows, the
// temporary has no name until then, so that nothing is left behind whatever
// ends the program; otherwise its name is removed on the usual interrupting
// signals. The text is gathered in blocks that another thread writes out.
class OutputFile {
 public:
  OutputFile(FileSystem& fileSystem, std::string path)
      : fileSystem_(fileSystem), path_(std::move(path)) {
    if (int error = fileSystem_.CheckReplaceable(path_); error != 0)
      throw FileError(FileAction::Create, path_, error);
    // A symbolic link stays; the file it leads to is replaced.
    target_ = fileSystem_.ReplacementTarget(path_);
    replacing_ = fileSystem_.Exists(target_);
    PrepareForInterruption();
    CreateTemporary();
    try {
      // What the user set on the earlier file stays, before any byte is written.
      if (replacing_) {
        if (int error = fileSystem_.CopyPermissions(target_, handle_); error != 0)
          throw FileError(FileAction::Create, path_, error);
      }
      writeBehind_ = std::make_unique<WriteBehind>(fileSystem_, handle_, kBufferSize);
    } catch (...) {
      Abandon();
      throw;
    }
    block_ = writeBehind_->Block();
  }

  ~OutputFile() { Abandon(); }

  void PrintLine(std::string_view text) {
    if (used_ + text.size() + 2 > kBufferSize) {
      Append(text);
      Append("\r\n");
      return;
    }
    std::memcpy(block_ + used_, text.data(), text.size());
    used_ += text.size();
    block_[used_++] = '\r';
    block_[used_++] = '\n';
  }

  // Writes out everything and puts the file in place. On failure nothing is
  // left behind and whatever was at the path stays as it was.
  void Finish() {
    WriteOut();
    MakeDurable();
    PutInPlace();
  }

  // Hands every byte to the system; the file is not in place yet.
  void WriteOut() {
    if (used_ != 0) SubmitBlock();
    const int written = writeBehind_->Finish();
    writeBehind_.reset();
    if (written != 0) Fail(FileAction::Write, written);
  }

  // Durable before it takes the place of the user's earlier file, so that a
  // crash right after leaves the old file or the new, never an empty one. A
  // new file has no earlier one to protect.
  void MakeDurable() {
    if (!NeedsSync()) return;
    if (int error = fileSystem_.Sync(handle_); error != 0) Fail(FileAction::Write, error);
  }
  bool NeedsSync() const { return replacing_; }
  FileSystem::Handle OpenHandle() const { return handle_; }
  const std::string& Path() const { return path_; }
  // Where the sync of several files at once failed for this one.
  [[noreturn]] void FailToSync(int error) { Fail(FileAction::Write, error); }

  void PutInPlace() {
    if (unnamed_ && !replacing_ && LinkedInPlace()) return;
    if (unnamed_) NameTemporary();
    const FileSystem::Handle handle = handle_;
    open_ = false;
    if (int error = fileSystem_.Close(handle); error != 0) Fail(FileAction::Write, error);
    if (int error = fileSystem_.Replace(temporary_, target_); error != 0)
      Fail(FileAction::Replace, error);
    ForgetTemporary();
  }

  void Abandon() noexcept {
    // The writing thread stops before its handle goes.
    writeBehind_.reset();
    if (open_) {
      open_ = false;
      fileSystem_.Close(handle_);
    }
    RemoveTemporary();
  }

 private:
  [[noreturn]] void Fail(FileAction action, int error) {
    Abandon();
    throw FileError(action, path_, error);
  }

  void CreateTemporary() {
    if (fileSystem_.CreateUnnamed(FolderOf(target_), handle_) == 0) {
      unnamed_ = true;
      open_ = true;
      return;
    }
    CreateNamedTemporary();
  }

  // Tries names beside the target until one is free; `create` makes the file
  // under a name and answers 0 or the error met.
  template <typename Create>
  void UseFreeName(Create create) {
    bool shortForm = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = TemporaryName(target_, shortForm);
      // Registered first: an interruption between the two leaves nothing.
      auto guard = std::make_unique<RemovedOnInterruption>(name);
      const int error = create(name);
      if (error == 0) {
        temporary_ = name;
        removedOnInterruption_ = std::move(guard);
        return;
      }
      if (MayBeTooLongAName(error) && !shortForm) {
        shortForm = true;
        continue;
      }
      if (error == EACCES || error == EPERM) FailInFolder(error);
      if (error != EEXIST) Fail(FileAction::Create, error);
    }
    Fail(FileAction::Create, EEXIST);
  }

  // The file itself may be written, but its folder may not hold a new file:
  // that is what the user must change.
  [[noreturn]] void FailInFolder(int error) {
    Abandon();
    std::string folder = FolderOf(target_);
    if (folder.size() > 1) folder.pop_back();
    throw FileError(FileAction::CreateInFolder, path_, error, folder);
  }

  void CreateNamedTemporary() {
    UseFreeName([this](const std::string& name) {
      const int error = fileSystem_.CreateExclusive(name, handle_);
      open_ = error == 0;
      return error;
    });
  }

  // A new file takes its name at once; false when the name was taken in the
  // meantime, so the file must replace what is there now.
  bool LinkedInPlace() {
    const int error = fileSystem_.Link(handle_, target_);
    if (error == EEXIST) return false;
    if (error != 0) Fail(FileAction::Create, error);
    const FileSystem::Handle handle = handle_;
    open_ = false;
    if (int closed = fileSystem_.Close(handle); closed != 0) {
      fileSystem_.Remove(target_);
      Fail(FileAction::Write, closed);
    }
    return true;
  }

  void NameTemporary() {
    UseFreeName([this](const std::string& name) { return fileSystem_.Link(handle_, name); });
  }

  // Adds `bytes` across as many blocks as they need.
  void Append(std::string_view bytes) {
    while (!bytes.empty()) {
      if (used_ == kBufferSize) SubmitBlock();
      const std::size_t room = std::min(bytes.size(), kBufferSize - used_);
      std::memcpy(block_ + used_, bytes.data(), room);
      used_ += room;
      bytes.remove_prefix(room);
    }
  }

  void SubmitBlock() {
    const int error = writeBehind_->Submit(used_);
    block_ = writeBehind_->Block();
    used_ = 0;
    if (error != 0) throw FileError(FileAction::Write, path_, error);
  }

  void RemoveTemporary() noexcept {
    if (temporary_.empty()) return;
    fileSystem_.Remove(temporary_);
    ForgetTemporary();
  }

  void ForgetTemporary() noexcept {
    temporary_.clear();
    removedOnInterruption_.reset();
  }

  FileSystem& fileSystem_;
  std::string path_;
  std::string target_;
  bool replacing_ = false;
  // The temporary's name; empty while it has none.
  std::string temporary_;
  std::unique_ptr<RemovedOnInterruption> removedOnInterruption_;
  bool unnamed_ = false;
  FileSystem::Handle handle_ = -1;
  bool open_ = false;
  std::unique_ptr<WriteBehind> writeBehind_;
  char* block_ = nullptr;
  std::size_t used_ = 0;
};

NumberedFiles::NumberedFiles(FileSystem& fileSystem) : fileSystem_(fileSystem) {}

NumberedFiles::~NumberedFiles() { AbandonAll(); }

int NumberedFiles::FreeFile() const {
  for (int number = 1; number <= kMaxNumber; ++number)
    if (!IsOpen(number)) return number;
  throw FileError(FileAction::NoFreeNumber, "", EMFILE);
}

bool NumberedFiles::IsOpen(int number) const {
  if (number < 1 || number > kMaxNumber) return false;
  return inputs_[number] != nullptr || outputs_[number] != nullptr;
}

void NumberedFiles::OpenForInput(int number, const std::string& path) {
  CheckNumber(number);
  if (IsOpen(number)) throw FileError(FileAction::Open, path, EBUSY);
  FileSystem::Handle handle = -1;
  if (int error = fileSystem_.OpenForReading(path, handle); error != 0)
    throw FileError(FileAction::Open, path, error);
  inputs_[number] = std::make_unique<InputFile>(fileSystem_, path, handle);
}

bool NumberedFiles::Eof(int number) { return Input(number).Eof(); }

std::string_view NumberedFiles::LineInput(int number) { return Input(number).ReadLine(); }

bool NumberedFiles::LineGoesOn(int number) { return Input(number).LineGoesOn(); }

void NumberedFiles::OpenForOutput(int number, const std::string& path) {
  CheckNumber(number);
  if (IsOpen(number)) throw FileError(FileAction::Create, path, EBUSY);
  outputs_[number] = std::make_unique<OutputFile>(fileSystem_, path);
}

void NumberedFiles::PrintLine(int number, std::string_view text) { Output(number).PrintLine(text); }

void NumberedFiles::Close(int number) {
  CheckNumber(number);
  if (inputs_[number]) {
    inputs_[number].reset();
    return;
  }
  if (!outputs_[number]) throw FileError(FileAction::BadNumber, "", EBADF);
  // The number is free again whether or not the file could be finished.
  std::unique_ptr<OutputFile> output = std::move(outputs_[number]);
  if (!waitForSharedSync_) {
    output->Finish();
    return;
  }
  output->WriteOut();
  waiting_.push_back(std::move(output));
}

std::vector<NumberedFiles::Placed> NumberedFiles::PutWaitingInPlace() {
  std::vector<FileSystem::Handle> handles;
  for (const auto& output : waiting_)
    if (output->NeedsSync()) handles.push_back(output->OpenHandle());
  std::vector<int> syncErrors(handles.size());
  fileSystem_.SyncAll(handles.data(), syncErrors.data(), handles.size());

  std::vector<Placed> placed;
  std::size_t synced = 0;
  for (const auto& output : waiting_) {
    placed.push_back({output->Path(), {}});
    try {
      if (output->NeedsSync()) {
        if (const int error = syncErrors[synced++]; error != 0) output->FailToSync(error);
      }
      output->PutInPlace();
    } catch (const FileError& error) {
      placed.back().failure = error.what();
    }
  }
  waiting_.clear();
  return placed;
}

void NumberedFiles::Abandon(int number) {
  if (number < 1 || number > kMaxNumber) return;
  inputs_[number].reset();
  outputs_[number].reset();
}

void NumberedFiles::AbandonAll() {
  for (int number = 1; number <= kMaxNumber; ++number) Abandon(number);
  waiting_.clear();
}

InputFile& NumberedFiles::Input(int number) {
  CheckNumber(number);
  if (!inputs_[number]) throw FileError(FileAction::BadNumber, "", EBADF);
  return *inputs_[number];
}

OutputFile& NumberedFiles::Output(int number) {
  CheckNumber(number);
  if (!outputs_[number]) throw FileError(FileAction::BadNumber, "", EBADF);
  return *outputs_[number];
}

void NumberedFiles::CheckNumber(int number) const {
  if (number < 1 || number > kMaxNumber) throw FileError(FileAction::BadNumber, "", EBADF);
}

}  // namespace ostrevane::platform
