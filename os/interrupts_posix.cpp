#include "os/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <mutex>

#include "os/interrupt_registry.h"

namespace ostrevane::os {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void Unlink(const char* path) { ::unlink(path); }

extern "C" void RemoveRegisteredAndEnd(int signal) {
  detail::RemoveRegistered(Unlink);
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

}  // namespace

void PrepareForInterruption() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (int signal : kEndingSignals) InstallIfDefault(signal, RemoveRegisteredAndEnd);
    // Writing past the size limit then fails with EFBIG, an ordinary error.
    InstallIfDefault(SIGXFSZ, SIG_IGN);
  });
}

}  // namespace ostrevane::os
