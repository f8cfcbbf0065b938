// The utility's UTF-16 text as Windows' wide strings (wchar_t is 16 bits there).
#pragma once

#include <string>

#include "runtime/text.h"

namespace win32 {

inline std::wstring wide(rt::TextView text) { return std::wstring(text.begin(), text.end()); }
inline rt::Text text(std::wstring_view wide) { return rt::Text(wide.begin(), wide.end()); }

}  // namespace win32
