// DLLs that the utility loads by name. Each comes from System32 only: the folder the program
// was started from (Downloads, say) and the current folder are never searched, so a DLL planted
// beside TEST.exe is never run.
#pragma once

#include <windows.h>

#include "platform/win32/handles/handles.h"

namespace win32 {

// `name` (a bare file name) loaded from System32; empty when it is not there.
handles::unique_hmodule loadSystemLibrary(const wchar_t* name);

// An exported function of `module` as the function type `Function`; null when it is missing.
template <class Function>
Function procedure(HMODULE module, const char* name) {
  if (!module) return nullptr;
  // void (*)() is the generic function pointer type: the cast from FARPROC goes through it.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace win32
