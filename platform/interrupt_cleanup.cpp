#include "platform/interrupt_cleanup.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace ostrevane::platform {
namespace {

// Enough for the replacements a run of the command line keeps waiting for
// one shared sync.
constexpr std::size_t kSlots = 256;
constexpr std::size_t kNoSlot = kSlots;

// Read by the signal handler: only lock-free atomics and what they point to.
std::array<std::atomic<const char*>, kSlots> registered{};

#ifndef _WIN32
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveRegisteredAndEnd(int signal) {
  for (auto& slot : registered)
    if (const char* path = slot.load()) ::unlink(path);
  // Ended by the same signal, so that the caller sees how the program ended.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallIfDefault(int signal, void (*handler)(int)) {
  struct sigaction current {};
  if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction wanted {};
  wanted.sa_handler = handler;
  sigemptyset(&wanted.sa_mask);
  ::sigaction(signal, &wanted, nullptr);
}
#endif

}  // namespace

void PrepareForInterruption() {
#ifndef _WIN32
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (int signal : kEndingSignals) InstallIfDefault(signal, RemoveRegisteredAndEnd);
    // Writing past the size limit then fails with EFBIG, an ordinary error.
    InstallIfDefault(SIGXFSZ, SIG_IGN);
  });
#endif
}

RemovedOnInterruption::RemovedOnInterruption(const std::string& path) : slot_(kNoSlot) {
  path_.reset(new char[path.size() + 1]);
  std::memcpy(path_.get(), path.c_str(), path.size() + 1);
  for (std::size_t i = 0; i < kSlots; ++i) {
    const char* expected = nullptr;
    if (registered[i].compare_exchange_strong(expected, path_.get())) {
      slot_ = i;
      return;
    }
  }
}

RemovedOnInterruption::~RemovedOnInterruption() {
  if (slot_ != kNoSlot) registered[slot_].store(nullptr);
}

}  // namespace ostrevane::platform
