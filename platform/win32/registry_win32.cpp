#include "platform/win32/registry_win32.h"

#include "platform/win32/text_win32.h"

namespace win32 {

namespace {

// A key handle travels through the portable core as an integer as wide as a pointer, and the
// predefined roots are 32-bit values sign-extended to that width, as windows.h defines them:
// zero-extended, 0x80000002 would be no key at all to 64-bit Windows.
static_assert(sizeof(registry::KeyHandle) == sizeof(HKEY));
static_assert(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(registry::kHKeyLocalMachine)) ==
              static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002)));
static_assert(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(registry::kHKeyCurrentUser)) ==
              static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001)));

HKEY keyOf(registry::KeyHandle key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

// Keys are asked for MAXIMUM_ALLOWED, as the ANSI RegOpenKey and RegCreateKey do: a standard
// user still reads HKEY_LOCAL_MACHINE, and gets write access wherever it has it.
int32_t Win32Registry::openKey(int32_t rootKey, rt::TextView path, registry::KeyHandle& handle) {
  return open(rootKey, path, view_, handle);
}

// 32-bit Windows ignores KEY_WOW64_64KEY and opens the key in the only view there is.
int32_t Win32Registry::openKeyIn64BitView(int32_t rootKey, rt::TextView path, registry::KeyHandle& handle) {
  return open(rootKey, path, KEY_WOW64_64KEY, handle);
}

int32_t Win32Registry::open(int32_t rootKey, rt::TextView path, REGSAM view, registry::KeyHandle& handle) {
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExW(rootHandle(rootKey), wide(path).c_str(), 0, MAXIMUM_ALLOWED | view, &key);
  handle = status == ERROR_SUCCESS ? reinterpret_cast<registry::KeyHandle>(key) : 0;
  return status;
}

int32_t Win32Registry::createKey(int32_t rootKey, rt::TextView path, registry::KeyHandle& handle) {
  HKEY key = nullptr;
  const LSTATUS status = RegCreateKeyExW(rootHandle(rootKey), wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         MAXIMUM_ALLOWED | view_, nullptr, &key, nullptr);
  handle = status == ERROR_SUCCESS ? reinterpret_cast<registry::KeyHandle>(key) : 0;
  return status;
}

int32_t Win32Registry::queryValue(registry::KeyHandle key, rt::TextView name, uint32_t& type, uint8_t* data,
                                  uint32_t& size) {
  DWORD valueType = type;
  DWORD valueSize = size;
  const LSTATUS status = RegQueryValueExW(keyOf(key), wide(name).c_str(), nullptr, &valueType, data, &valueSize);
  type = valueType;
  size = valueSize;
  return status;
}

int32_t Win32Registry::setValue(registry::KeyHandle key, rt::TextView name, uint32_t type, const uint8_t* data,
                                uint32_t size) {
  return RegSetValueExW(keyOf(key), wide(name).c_str(), 0, type, data, size);
}

int32_t Win32Registry::closeKey(registry::KeyHandle key) { return RegCloseKey(keyOf(key)); }

}  // namespace win32
