// The registry API over advapi32's wide-character entry points.
#pragma once

#include <windows.h>

#include "registry/registry_api.h"

namespace win32 {

class Win32Registry final : public registry::RegistryApi {
 public:
  // `view` is added to every open and create: KEY_WOW64_32KEY makes a 64-bit process see the
  // registry as the shipped 32-bit program does; 0 leaves the process's own view.
  explicit Win32Registry(REGSAM view) : view_(view) {}

  int32_t openKey(int32_t rootKey, rt::TextView path, registry::KeyHandle& handle) override;
  int32_t openKeyIn64BitView(int32_t rootKey, rt::TextView path, registry::KeyHandle& handle) override;
  int32_t createKey(int32_t rootKey, rt::TextView path, registry::KeyHandle& handle) override;
  int32_t queryValue(registry::KeyHandle key, rt::TextView name, uint32_t& type, uint8_t* data,
                     uint32_t& size) override;
  int32_t setValue(registry::KeyHandle key, rt::TextView name, uint32_t type, const uint8_t* data,
                   uint32_t size) override;
  int32_t closeKey(registry::KeyHandle key) override;

  // A predefined root key as HKEY: the 32-bit value sign-extended, so that 0x80000002 is
  // HKEY_LOCAL_MACHINE on 64-bit Windows too.
  static HKEY rootHandle(int32_t rootKey) { return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(rootKey)); }

 private:
  int32_t open(int32_t rootKey, rt::TextView path, REGSAM view, registry::KeyHandle& handle);

  REGSAM view_;
};

}  // namespace win32
