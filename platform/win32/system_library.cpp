#include "platform/win32/system_library.h"

namespace win32 {

UniqueModule loadSystemLibrary(const wchar_t* name) {
  return UniqueModule(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace win32
