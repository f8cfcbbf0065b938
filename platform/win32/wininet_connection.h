// The forced connection test of wininet. The DLL comes from System32 only, and is loaded before
// the first run can start: a module name that is already loaded is never searched for again, so
// a component that imports wininet by name (the HTTP request object does, on some systems) gets
// this one too, and no wininet.dll beside the program is ever taken instead.
#pragma once

#include <windows.h>

#include "checks/environment_checks.h"
#include "platform/win32/system_library.h"

namespace win32 {

class WininetConnectionTest final : public checks::ConnectionTest {
 public:
  // Loads wininet.dll from System32; the utility calls it once its window is up, before any
  // click is handled. A failure to load is left to the first call to raise.
  void load();

  // InternetCheckConnectionA with FLAG_ICC_FORCE_CONNECTION; the address crosses in the ANSI
  // code page. Raises 53 when wininet.dll cannot be loaded, 453 when it lacks the function, at
  // the first call as a declared DLL function does.
  int32_t InternetCheckConnection(rt::TextView url) override;

 private:
  using CheckConnection = BOOL(WINAPI*)(LPCSTR url, DWORD flags, DWORD reserved);

  handles::unique_hmodule library_;
  CheckConnection check_ = nullptr;
};

}  // namespace win32
