#include "ui/win32/live_region.h"

namespace ostrevane::ui::win32 {

namespace {

// UI Automation's LiveSetting property and its value "polite": said when the
// reader is done with what it is saying. MinGW-w64's UI Automation headers
// don't compile as C++, so both are named here.
constexpr MSAAPROPID kLiveSettingProperty{
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kPolite = 1;

}  // namespace

LiveRegion::LiveRegion(HWND control) : control_(control) {
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, annotations_.Receive()))) {
    return;
  }
  VARIANT polite;
  VariantInit(&polite);
  polite.vt = VT_I4;
  polite.lVal = kPolite;
  // Wine answers E_NOTIMPL: there the event alone carries the news.
  annotations_->SetHwndProp(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                            kLiveSettingProperty, polite);
}

LiveRegion::~LiveRegion() {
  if (annotations_) {
    annotations_->ClearHwndProps(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 &kLiveSettingProperty, 1);
  }
}

void LiveRegion::Announce() const {
  NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control_, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace ostrevane::ui::win32
