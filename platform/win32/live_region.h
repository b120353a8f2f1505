#pragma once

#include <windows.h>
// oleacc.h builds on windows.h.
#include <oleacc.h>

namespace sorel {

// A control whose new text a screen reader speaks by itself, without the focus on it: a polite
// live region (Narrator and NVDA speak it after what they are saying). Windows 8 and later;
// elsewhere, and where the system's accessibility service cannot be had, it does nothing.
class LiveRegion {
 public:
  explicit LiveRegion(HWND control);
  ~LiveRegion();
  LiveRegion(const LiveRegion&) = delete;
  LiveRegion& operator=(const LiveRegion&) = delete;

  HWND control() const { return control_; }
  // Tells screen readers to read the control now; call it once its text shows.
  void Announce() const;

 private:
  HWND control_;
  bool supported_ = false;
  bool com_initialised_ = false;
  IAccPropServices* properties_ = nullptr;
};

}  // namespace sorel
