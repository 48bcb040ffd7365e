#include "ui/win32/button_accessible.h"

#include <oleacc.h>

#include <string>

#include "messages/messages.h"
#include "os/wide_text.h"
#include "ui/win32/owned.h"

namespace ostrevane::ui::win32 {

namespace {

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

BSTR WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), text.size())));
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The button as MSAA and UI Automation clients see it: the standard object's
// answers, except for what makes it a named push button with an action.
class ButtonAccessible final : public IAccessible {
 public:
  ButtonAccessible(HWND button, ComRef<IAccessible> standard)
      : button_(button), standard_(std::move(standard)) {}
  ButtonAccessible(const ButtonAccessible&) = delete;
  ButtonAccessible& operator=(const ButtonAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (id != IID_IUnknown && id != IID_IDispatch && id != IID_IAccessible) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IAccessible*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: what the standard object offers.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return standard_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return standard_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return standard_->GetIDsOfNames(id, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument) override {
    return standard_->Invoke(member, id, locale, flags, parameters, result, exception, argument);
  }

  // IAccessible: what makes it a named push button with an action.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    *name = WindowText(button_);
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_PUSHBUTTON;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT /*child*/, IDispatch** object) override {
    *object = nullptr;
    return E_INVALIDARG;
  }

  // IAccessible: the standard object's answers.
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return standard_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return standard_->get_accDescription(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return standard_->get_accHelp(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
    return standard_->get_accKeyboardShortcut(child, keys);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    return standard_->get_accFocus(focus);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    return standard_->get_accSelection(selection);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    return standard_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override {
    return standard_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT /*child*/, BSTR /*name*/) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT /*child*/, BSTR /*value*/) override {
    return E_NOTIMPL;
  }

 private:
  ~ButtonAccessible() = default;

  LONG references_ = 1;
  HWND button_;
  ComRef<IAccessible> standard_;
};

HRESULT ButtonAccessible::get_accState(VARIANT child, VARIANT* state) {
  if (!IsSelf(child)) return E_INVALIDARG;
  long bits = STATE_SYSTEM_FOCUSABLE;
  if (GetFocus() == button_) bits |= STATE_SYSTEM_FOCUSED;
  if (!IsWindowVisible(button_)) bits |= STATE_SYSTEM_INVISIBLE;
  if (!IsWindowEnabled(button_)) bits |= STATE_SYSTEM_UNAVAILABLE;
  state->vt = VT_I4;
  state->lVal = bits;
  return S_OK;
}

HRESULT ButtonAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
  if (!IsSelf(child)) return E_INVALIDARG;
  const std::wstring press = os::ToWide(messages::kPressAction);
  *action = SysAllocStringLen(press.data(), static_cast<UINT>(press.size()));
  return *action ? S_OK : E_OUTOFMEMORY;
}

HRESULT ButtonAccessible::accDoDefaultAction(VARIANT child) {
  if (!IsSelf(child)) return E_INVALIDARG;
  // A hidden button can't be pressed: it has nothing to act on yet.
  if (!IsWindowVisible(button_) || !IsWindowEnabled(button_)) return E_FAIL;
  // Posted, as the mouse's click is, so that the client's call returns before
  // the click opens a dialog or starts a conversion.
  PostMessageW(GetParent(button_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button_), BN_CLICKED),
               reinterpret_cast<LPARAM>(button_));
  return S_OK;
}

}  // namespace

LRESULT ServeButtonObject(HWND button, WPARAM wParam, LPARAM lParam) {
  // The object id fills only the low 32 bits of lParam, and is negative.
  if (static_cast<LONG>(lParam) != static_cast<LONG>(OBJID_CLIENT)) return 0;
  ComRef<IAccessible> standard;
  if (FAILED(CreateStdAccessibleObject(button, OBJID_CLIENT, IID_IAccessible, standard.Receive())))
    return 0;
  auto* object = new ButtonAccessible(button, std::move(standard));
  const LRESULT result = LresultFromObject(IID_IAccessible, wParam, object);
  // LresultFromObject holds its own reference as long as the client needs it.
  object->Release();
  // A failure is a negative COM error code.
  return result < 0 ? 0 : result;
}

}  // namespace ostrevane::ui::win32
