#include "platform/win32/live_region.h"

#include <versionhelpers.h>

namespace sorel {
namespace {

// Microsoft's documented values (UIAutomationClient.h, oleacc.h, winuser.h). mingw's headers
// lack the first; the GUIDs of its import library would tie the exe to oleacc.dll at load time.
// The UI Automation property LiveSetting, as an annotation GUID for IAccPropServices.
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr GUID kAccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID kAccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr LONG kPolite = 1;                   // LiveSetting: Off 0, Polite 1, Assertive 2
constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED

}  // namespace

LiveRegion::LiveRegion(HWND control) : control_(control) {
  // Screen readers read live regions from Windows 8 on; before that the annotation means nothing.
  if (!IsWindows8OrGreater()) return;
  supported_ = true;
  // On the window's thread, which uses the (apartment-threaded) service.
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  com_initialised_ = SUCCEEDED(init);
  if (!com_initialised_) return;
  // COM loads oleacc.dll, no known DLL, by its registered name; the process-wide restriction to
  // System32 (CreatePlatform) keeps a planted copy beside the exe out of that load too.
  if (FAILED(CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                              kAccPropServicesInterface, reinterpret_cast<void**>(&properties_)))) {
    properties_ = nullptr;
    return;
  }
  VARIANT polite{};
  polite.vt = VT_I4;
  polite.lVal = kPolite;
  if (FAILED(properties_->SetHwndProp(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                      kLiveSettingProperty, polite))) {
    properties_->Release();
    properties_ = nullptr;
  }
}

LiveRegion::~LiveRegion() {
  if (properties_ != nullptr) {
    // The annotation lives in the accessibility service's table until cleared.
    MSAAPROPID live_setting = kLiveSettingProperty;
    properties_->ClearHwndProps(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                &live_setting, 1);
    properties_->Release();
  }
  if (com_initialised_) CoUninitialize();
}

void LiveRegion::Announce() const {
  // Also without the annotation (the service failed): harmless, a screen reader then ignores it.
  if (supported_) NotifyWinEvent(kLiveRegionChanged, control_, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace sorel
