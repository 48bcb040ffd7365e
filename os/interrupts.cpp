#include "os/interrupts.h"

#include <array>
#include <atomic>
#include <cstring>

#include "os/interrupt_registry.h"

namespace ostrevane::os {
namespace {

// Enough for the replacements a run of the command line keeps waiting for
// one shared sync.
constexpr std::size_t kSlots = 256;
constexpr std::size_t kNoSlot = kSlots;

// Read when the program is interrupted: only lock-free atomics and what they
// point to.
std::array<std::atomic<const char*>, kSlots> registered{};

}  // namespace

void detail::RemoveRegistered(void (*remove)(const char* path)) {
  for (auto& slot : registered)
    if (const char* path = slot.load()) remove(path);
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

}  // namespace ostrevane::os
