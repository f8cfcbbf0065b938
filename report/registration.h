// Registering the component's classes, over a small registry interface so that the tests can make
// any registry call fail. Registration is all or nothing: when a call fails halfway, the keys it
// created are removed and the values it overwrote get their earlier data back.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "server.h"

namespace vbgreport {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegistryValue&) const = default;
};

// Paths are relative to a predefined root key; each call opens what it needs with the least
// access it needs and closes it again. The statuses are those of the registry API.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual LSTATUS keyExists(HKEY root, const std::wstring& path, bool* exists) = 0;
  // Creates one key whose parent exists; `created` tells whether it was not there before.
  virtual LSTATUS createKey(HKEY root, const std::wstring& path, bool* created) = 0;
  // ERROR_FILE_NOT_FOUND when the key or the value is absent. `name` null is the default value.
  virtual LSTATUS queryValue(HKEY root, const std::wstring& path, const wchar_t* name, RegistryValue* value) = 0;
  virtual LSTATUS setValue(HKEY root, const std::wstring& path, const wchar_t* name, const RegistryValue& value) = 0;
  virtual LSTATUS deleteValue(HKEY root, const std::wstring& path, const wchar_t* name) = 0;
  // One key without subkeys.
  virtual LSTATUS deleteKey(HKEY root, const std::wstring& path) = 0;
  // A key and everything under it.
  virtual LSTATUS deleteTree(HKEY root, const std::wstring& path) = 0;
};

Registry& windowsRegistry();

// `classes` is the classes key under `root`: L"Software\\Classes". A ProgID that named another
// class before keeps that class's identifier beside it, for unregistration to give back.
HRESULT registerClasses(Registry& registry, HKEY root, const std::wstring& classes, std::span<const ServedClass> served,
                        const std::wstring& serverPath) noexcept;

// Removes a class only when its InprocServer32 names `serverPath`. A ProgID that names the class,
// once the class is gone, names again the class it named before registration, or goes when
// registration created it: another copy's working registration stays.
HRESULT unregisterClasses(Registry& registry, HKEY root, const std::wstring& classes,
                          std::span<const ServedClass> served, const std::wstring& serverPath) noexcept;

std::wstring classIdText(const CLSID& classId);
RegistryValue textValue(std::wstring_view text);

}  // namespace vbgreport
