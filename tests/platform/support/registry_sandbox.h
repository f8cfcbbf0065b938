// Keys that a test writes through the plain API in a chosen registry view, deleted before and
// after the test so that every test starts from nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/handles/handles.h"

namespace support {

class RegistrySandbox {
 public:
  // `paths`: keys below HKLM or HKCU, in both views, that the test may create.
  RegistrySandbox(std::vector<std::pair<HKEY, std::wstring>> paths) : paths_(std::move(paths)) { clear(); }
  ~RegistrySandbox() { clear(); }
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // Stores a value, creating its key, in the view `view` (KEY_WOW64_32KEY or KEY_WOW64_64KEY).
  static bool set(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size,
                  REGSAM view) {
    handles::unique_hkey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
      return false;
    return RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  }
  static bool setText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text,
                      REGSAM view) {
    return set(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
               view);
  }
  static bool createKey(HKEY root, const std::wstring& path, REGSAM view) {
    handles::unique_hkey key;
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr) ==
           ERROR_SUCCESS;
  }

  // A value as stored: its type and bytes; type REG_NONE and no bytes when it is missing.
  struct Stored {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool exists = false;
  };
  static Stored get(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
    Stored stored;
    handles::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return stored;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &stored.type, nullptr, &size) == ERROR_SUCCESS) {
      stored.bytes.resize(size);
      stored.exists =
          RegQueryValueExW(key.get(), name, nullptr, &stored.type, stored.bytes.data(), &size) == ERROR_SUCCESS;
      stored.bytes.resize(size);
    }
    return stored;
  }
  static bool keyExists(HKEY root, const std::wstring& path, REGSAM view) {
    handles::unique_hkey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
  }

 private:
  void clear() {
    for (const auto& [root, path] : paths_)
      for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) deleteTree(root, path, view);
  }
  static void deleteTree(HKEY root, const std::wstring& path, REGSAM view) {
    {
      handles::unique_hkey key;
      if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
      RegDeleteTreeW(key.get(), nullptr);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
  }

  std::vector<std::pair<HKEY, std::wstring>> paths_;
};

}  // namespace support
