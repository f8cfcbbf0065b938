#include "settings.h"

#include <windows.h>

namespace vbgreport {

std::optional<std::wstring> environmentVariable(const wchar_t* name) {
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // the size needed, terminator included
  }
}

}  // namespace vbgreport
