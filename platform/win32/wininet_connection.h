// The forced connection test of wininet, loaded on first use as a declared DLL function is.
#pragma once

#include <windows.h>

#include "checks/environment_checks.h"

namespace win32 {

class WininetConnectionTest final : public checks::ConnectionTest {
 public:
  WininetConnectionTest() = default;
  ~WininetConnectionTest() override;
  WininetConnectionTest(const WininetConnectionTest&) = delete;
  WininetConnectionTest& operator=(const WininetConnectionTest&) = delete;

  // InternetCheckConnectionA with FLAG_ICC_FORCE_CONNECTION; the address crosses in the ANSI
  // code page. Raises 53 when wininet.dll cannot be loaded, 453 when it lacks the function.
  int32_t InternetCheckConnection(rt::TextView url) override;

 private:
  using CheckConnection = BOOL(WINAPI*)(LPCSTR url, DWORD flags, DWORD reserved);

  HMODULE library_ = nullptr;
  CheckConnection check_ = nullptr;
};

}  // namespace win32
