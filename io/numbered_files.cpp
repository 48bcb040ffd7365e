#include "io/numbered_files.h"

#include <cerrno>

#include "io/file_error.h"
#include "io/input_file.h"
#include "io/output_file.h"

namespace ostrevane::io {

using messages::FileAction;

NumberedFiles::NumberedFiles(os::FileSystem& fileSystem) : fileSystem_(fileSystem) {}

NumberedFiles::~NumberedFiles() { AbandonAll(); }

int NumberedFiles::FreeFile() const {
  for (int number = 1; number <= kMaxNumber; ++number)
    if (!IsOpen(number)) return number;
  throw FileError(FileAction::Open, "", EMFILE);
}

bool NumberedFiles::IsOpen(int number) const {
  if (number < 1 || number > kMaxNumber) return false;
  return inputs_[number] != nullptr || outputs_[number] != nullptr;
}

void NumberedFiles::OpenForInput(int number, const std::string& path,
                                 os::FileSystem::FifoReading fifo) {
  CheckNumber(number);
  if (IsOpen(number)) throw FileError(FileAction::Open, path, EBUSY);
  os::FileSystem::Handle handle = -1;
  if (int error = fileSystem_.OpenForReading(path, handle); error != 0)
    throw FileError(FileAction::Open, path, error);
  if (int error = fileSystem_.PrepareFifo(handle, fifo); error != 0) {
    fileSystem_.Close(handle);
    if (error == ESPIPE) throw FileError(FileAction::Open, path, error, messages::kFifoRefused);
    throw FileError(FileAction::Open, path, error);
  }
  inputs_[number] = std::make_unique<InputFile>(fileSystem_, path, handle);
}

bool NumberedFiles::Eof(int number) { return Input(number).Eof(); }

std::string_view NumberedFiles::LineInput(int number) { return Input(number).ReadLine(); }

bool NumberedFiles::LineGoesOn(int number) { return Input(number).LineGoesOn(); }

void NumberedFiles::FollowGrowth(int number) { Input(number).FollowGrowth(); }

bool NumberedFiles::LineHeld(int number) { return Input(number).LineHeld(); }

void NumberedFiles::ReadOnAfterEnd(int number) { Input(number).ReadOnAfterEnd(); }

std::string_view NumberedFiles::ReleaseHeldLine(int number) {
  return Input(number).ReleaseHeldLine();
}

int NumberedFiles::InputStatus(int number, os::FileSystem::Status& status) {
  return Input(number).Status(status);
}

int NumberedFiles::InputReadAt(int number, std::uint64_t offset, char* data, std::size_t size,
                               std::size_t& got) {
  return Input(number).ReadAt(offset, data, size, got);
}

void NumberedFiles::CopyInto(int number, os::FileSystem::Handle from, std::uint64_t length) {
  Output(number).CopyFrom(from, length);
}

std::uint64_t NumberedFiles::OutputSize(int number) { return Output(number).Size(); }

void NumberedFiles::OpenForOutput(int number, const std::string& path, bool durable) {
  CheckNumber(number);
  if (IsOpen(number)) throw FileError(FileAction::Create, path, EBUSY);
  outputs_[number] = std::make_unique<OutputFile>(fileSystem_, path);
  if (!durable) outputs_[number]->SkipDurability();
}

void NumberedFiles::PrintLine(int number, std::string_view text) { Output(number).PrintLine(text); }

void NumberedFiles::Print(int number, std::string_view text) { Output(number).Print(text); }

void NumberedFiles::Close(int number) {
  CheckNumber(number);
  if (inputs_[number]) {
    inputs_[number].reset();
    return;
  }
  if (!outputs_[number]) throw FileError(FileAction::Use, "", EBADF, messages::kBadFileNumber);
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
  std::vector<os::FileSystem::Handle> handles;
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
  if (!inputs_[number]) throw FileError(FileAction::Use, "", EBADF, messages::kBadFileNumber);
  return *inputs_[number];
}

OutputFile& NumberedFiles::Output(int number) {
  CheckNumber(number);
  if (!outputs_[number]) throw FileError(FileAction::Use, "", EBADF, messages::kBadFileNumber);
  return *outputs_[number];
}

void NumberedFiles::CheckNumber(int number) const {
  if (number < 1 || number > kMaxNumber)
    throw FileError(FileAction::Use, "", EBADF, messages::kBadFileNumber);
}

}  // namespace ostrevane::io
