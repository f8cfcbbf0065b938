#include "platform/win32/system_library.h"

namespace win32 {

handles::unique_hmodule loadSystemLibrary(const wchar_t* name) {
  return handles::unique_hmodule(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace win32
