#include "io/output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "io/block_ring.h"
#include "io/file_error.h"
#include "os/system.h"

namespace ostrevane::io {

using messages::FileAction;
namespace {

// The folder part of `path`, with its trailing separator; "" for a bare name.
std::string FolderOf(const std::string& path) {
  const auto slash = os::LastSeparator(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A name for the temporary file beside `path` that no one else uses.
std::string TemporaryName(const std::string& path, bool shortForm) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string unique = std::to_string(os::ProcessId()) + "-" +
                             std::to_string(counter.fetch_add(1)) + "-" +
                             std::to_string(static_cast<unsigned long long>(ticks) % 1000000);
  const std::string folder = FolderOf(path);
  if (shortForm) return folder + ".ostrevane-" + unique + ".tmp";
  return folder + "." + path.substr(folder.size()) + "." + unique + ".tmp";
}

// The process number in `name` when it is a temporary name that
// TemporaryName gives beside a file named `target`: "." target "." PID "-"
// count "-" ticks ".tmp"; 0 otherwise.
unsigned long TemporaryOwner(std::string_view name, std::string_view target) {
  const std::string_view kEnd = ".tmp";
  if (name.size() <= target.size() + 2 + kEnd.size() || name[0] != '.' ||
      name.substr(1, target.size()) != target || name[target.size() + 1] != '.' ||
      name.substr(name.size() - kEnd.size()) != kEnd)
    return 0;
  const std::string_view unique =
      name.substr(target.size() + 2, name.size() - target.size() - 2 - kEnd.size());
  unsigned long owner = 0;
  int dashes = 0;
  bool digit = false;
  for (const char c : unique) {
    if (c == '-' && digit) {
      ++dashes;
      digit = false;
    } else if (c >= '0' && c <= '9') {
      if (dashes == 0) owner = owner * 10 + static_cast<unsigned long>(c - '0');
      digit = true;
    } else {
      return 0;
    }
  }
  return dashes == 2 && digit ? owner : 0;
}

// Whether creating a file may have failed only because its name is too long.
// Windows says so with ENOENT or EINVAL, not ENAMETOOLONG; where the folder
// is really missing, the short name fails the same way and that is reported.
bool MayBeTooLongAName(int error) {
  return error == ENAMETOOLONG || error == ENOENT || error == EINVAL;
}

// Whether setting a file's permissions failed because its file system keeps
// none: FAT on a memory stick, and FUSE mounts whose driver has no chmod
// (fusefat, desktop network and phone mounts). EPERM is what a kernel driver
// says of a mode it can't keep, on the file we have just created.
bool KeepsNoPermissions(int error) {
  return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP || error == EPERM;
}

}  // namespace

void RemoveStaleTemporaries(os::FileSystem& fileSystem, const std::string& path) {
  const std::string target = fileSystem.ReplacementTarget(path);
  const std::string folder = FolderOf(target);
  const std::string_view name = std::string_view(target).substr(folder.size());
  for (const std::string& entry : os::FolderEntries(folder)) {
    const unsigned long owner = TemporaryOwner(entry, name);
    if (owner != 0 && owner != os::ProcessId() && !os::ProcessRuns(owner))
      fileSystem.Remove(folder + entry);
  }
}

OutputFile::OutputFile(os::FileSystem& fileSystem, std::string path)
    : fileSystem_(fileSystem), path_(std::move(path)) {
  if (int error = fileSystem_.CheckReplaceable(path_); error != 0)
    throw FileError(FileAction::Create, path_, error);
  // A symbolic link stays; the file it leads to is replaced.
  target_ = fileSystem_.ReplacementTarget(path_);
  replacing_ = fileSystem_.Exists(target_);
  os::PrepareForInterruption();
  CreateTemporary();
  try {
    // What the user set on the earlier file stays, before any byte is written.
    if (replacing_) KeepPermissions();
    writeBehind_ = std::make_unique<WriteBehind>(fileSystem_, handle_, kBlockSize);
  } catch (...) {
    Abandon();
    throw;
  }
  block_ = writeBehind_->Block();
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::KeepPermissions() {
  const int error = fileSystem_.CopyPermissions(target_, handle_);
  if (error == 0) return;
  if (!KeepsNoPermissions(error)) throw FileError(FileAction::Create, path_, error);
  // Its files all have the same permissions, or whatever the file system
  // makes up for them; a KML kept from others must stay so, or be refused.
  if (fileSystem_.LessPrivateThan(handle_, target_))
    throw FileError(FileAction::Create, path_, error, messages::PermissionsNotKept(error));
}

void OutputFile::Finish() {
  WriteOut();
  MakeDurable();
  PutInPlace();
}

void OutputFile::WriteOut() {
  if (used_ != 0) SubmitBlock();
  const int written = writeBehind_->Finish();
  writeBehind_.reset();
  if (written != 0) Fail(FileAction::Write, written);
}

void OutputFile::MakeDurable() {
  if (!NeedsSync()) return;
  if (int error = fileSystem_.Sync(handle_); error != 0) Fail(FileAction::Write, error);
}

void OutputFile::FailToSync(int error) { Fail(FileAction::Write, error); }

void OutputFile::PutInPlace() {
  if (unnamed_) {
    if (!replacing_ && LinkedInPlace()) return;
    if (LinkedOver()) return;
    NameTemporary();
  }
  const os::FileSystem::Handle handle = handle_;
  open_ = false;
  if (int error = fileSystem_.Close(handle); error != 0) Fail(FileAction::Write, error);
  if (int error = fileSystem_.Replace(temporary_, target_); error != 0)
    Fail(FileAction::Replace, error);
  ForgetTemporary();
}

void OutputFile::Abandon() noexcept {
  // The writing thread stops before its handle goes.
  writeBehind_.reset();
  if (open_) {
    open_ = false;
    fileSystem_.Close(handle_);
  }
  RemoveTemporary();
}

void OutputFile::Fail(FileAction action, int error) {
  Abandon();
  throw FileError(action, path_, error);
}

void OutputFile::CreateTemporary() {
  if (fileSystem_.CreateUnnamed(FolderOf(target_), handle_) == 0) {
    unnamed_ = true;
    open_ = true;
    return;
  }
  CreateNamedTemporary();
}

template <typename Create>
void OutputFile::UseFreeName(Create create) {
  bool shortForm = false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(target_, shortForm);
    // Registered first: an interruption between the two leaves nothing.
    auto guard = std::make_unique<os::RemovedOnInterruption>(name);
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

void OutputFile::FailInFolder(int error) {
  Abandon();
  std::string folder = FolderOf(target_);
  if (folder.size() > 1) folder.pop_back();
  throw FileError(FileAction::Create, path_, error, messages::FolderRefusesFiles(folder, error));
}

void OutputFile::CreateNamedTemporary() {
  UseFreeName([this](const std::string& name) {
    const int error = fileSystem_.CreateExclusive(name, handle_);
    open_ = error == 0;
    return error;
  });
}

bool OutputFile::LinkedInPlace() {
  const int error = fileSystem_.Link(handle_, target_);
  if (error == EEXIST) return false;
  if (error != 0) Fail(FileAction::Create, error);
  const os::FileSystem::Handle handle = handle_;
  open_ = false;
  if (int closed = fileSystem_.Close(handle); closed != 0) {
    fileSystem_.Remove(target_);
    Fail(FileAction::Write, closed);
  }
  return true;
}

bool OutputFile::LinkedOver() {
  const int error = fileSystem_.LinkOver(handle_, target_);
  if (error == ENOSYS) return false;
  if (error != 0) Fail(FileAction::Replace, error);
  const os::FileSystem::Handle handle = handle_;
  open_ = false;
  // The earlier file is gone already: the new one stays, and the user hears
  // of the failure.
  if (int closed = fileSystem_.Close(handle); closed != 0) Fail(FileAction::Write, closed);
  return true;
}

void OutputFile::NameTemporary() {
  UseFreeName([this](const std::string& name) { return fileSystem_.Link(handle_, name); });
}

void OutputFile::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    if (used_ == kBlockSize) SubmitBlock();
    const std::size_t room = std::min(bytes.size(), kBlockSize - used_);
    std::memcpy(block_ + used_, bytes.data(), room);
    used_ += room;
    bytes.remove_prefix(room);
  }
}

void OutputFile::CopyFrom(os::FileSystem::Handle from, std::uint64_t length) {
  // Nothing is pending on the writing thread yet: the copy goes first.
  if (submitted_ != 0 || used_ != 0) throw FileError(FileAction::Write, path_, EINVAL);
  if (int error = fileSystem_.CopyRange(from, handle_, length); error != 0)
    Fail(FileAction::Write, error);
  submitted_ = length;
}

void OutputFile::SubmitBlock() {
  submitted_ += used_;
  const int error = writeBehind_->Submit(used_);
  block_ = writeBehind_->Block();
  used_ = 0;
  if (error != 0) throw FileError(FileAction::Write, path_, error);
}

void OutputFile::RemoveTemporary() noexcept {
  if (temporary_.empty()) return;
  fileSystem_.Remove(temporary_);
  ForgetTemporary();
}

void OutputFile::ForgetTemporary() noexcept {
  temporary_.clear();
  removedOnInterruption_.reset();
}

}  // namespace ostrevane::io
