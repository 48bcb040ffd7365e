#pragma once

#include <utility>

// The one way the window owns what Windows hands out (GDI objects, icons,
// device contexts, the names of a drop, COM objects): an Owned gives it back
// however the code that holds it returns.
namespace ostrevane::ui::win32 {

// Owns `Handle` and gives it back with `Release(handle)`, the call that the
// function which handed it out names for that (DeleteObject, DestroyIcon,
// DragFinish...). Movable, not copyable; a null handle owns nothing.
template <typename Handle, auto Release>
class Owned {
 public:
  Owned() = default;
  // Takes over a handle that the caller already owns.
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }

  Handle get() const { return handle_; }
  // For a COM object: its methods.
  Handle operator->() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Where a call that hands out a COM reference puts it (its void** out
  // argument), the one held released first.
  void** Receive() {
    Reset();
    return reinterpret_cast<void**>(&handle_);
  }

 private:
  void Reset() {
    if (handle_) Release(std::exchange(handle_, nullptr));
  }

  Handle handle_ = nullptr;
};

// COM gives a reference back through the object itself.
template <typename Interface>
void ReleaseReference(Interface* object) {
  object->Release();
}

// One reference to a COM object.
template <typename Interface>
using ComRef = Owned<Interface*, ReleaseReference<Interface>>;

}  // namespace ostrevane::ui::win32
