// Bookkeeping of the in-process server: its module handle, the objects and locks that keep it
// loaded, and the table of classes it serves and registers.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>

namespace vbgreport {

struct ServedClass {
  const CLSID* classId;
  const wchar_t* progId;
  const wchar_t* friendlyName;
  HRESULT (*create)(REFIID interfaceId, void** object);
};

// Both classes, report first.
const ServedClass* servedClasses(size_t* count) noexcept;

HMODULE serverModule() noexcept;

// Each live object holds one of these, so the DLL stays loaded while anyone uses it.
class ServerReference {
 public:
  ServerReference() noexcept;
  ~ServerReference();
  ServerReference(const ServerReference&) = delete;
  ServerReference& operator=(const ServerReference&) = delete;
};

void lockServer(bool lock) noexcept;

}  // namespace vbgreport
