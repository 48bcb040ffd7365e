#pragma once

#include <utility>

namespace ostrevane::ui::win32 {

// Holds one reference to a COM object and releases it, so that every object
// the window asks of COM is given back however the code that uses it returns.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  // Takes over a reference that the caller already holds.
  explicit ComRef(Interface* object) : object_(object) {}
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }

  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Where a call that hands out a reference puts it, this one released first.
  void** Receive() {
    Reset();
    return reinterpret_cast<void**>(&object_);
  }

 private:
  void Reset() {
    if (object_) std::exchange(object_, nullptr)->Release();
  }

  Interface* object_ = nullptr;
};

}  // namespace ostrevane::ui::win32
