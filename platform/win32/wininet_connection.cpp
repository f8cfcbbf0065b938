#include "platform/win32/wininet_connection.h"

// Only for the declaration, to check the pointer type below against it: nothing is imported.
#include <wininet.h>
// wininet.h maps the name to its W function; here it is the connection test's own method.
#undef InternetCheckConnection

#include <string>
#include <type_traits>

#include "platform/win32/text_win32.h"
#include "runtime/runtime_error.h"

namespace win32 {

namespace {

constexpr DWORD kForceConnection = FLAG_ICC_FORCE_CONNECTION;
constexpr int32_t kEntryPointNotFound = 453;

std::string ansi(rt::TextView text) {
  const std::wstring w = wide(text);
  const int length = WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), out.data(), length, nullptr, nullptr);
  return out;
}

}  // namespace

void WininetConnectionTest::load() {
  if (!library_) library_ = loadSystemLibrary(L"wininet.dll");
}

int32_t WininetConnectionTest::InternetCheckConnection(rt::TextView url) {
  load();
  if (!library_) rt::raise(rt::kFileNotFound, u"Impossibile trovare il file: wininet.dll");
  if (!check_) {
    // The function is called through a pointer of our own type: a calling convention that differs
    // from the DLL's would go unnoticed on x86-64 and corrupt the stack of the 32-bit program.
    static_assert(std::is_same_v<CheckConnection, decltype(&InternetCheckConnectionA)>);
    check_ = procedure<CheckConnection>(library_.get(), "InternetCheckConnectionA");
    if (!check_)
      rt::raise(kEntryPointNotFound,
                u"Impossibile trovare il punto di ingresso InternetCheckConnectionA della DLL wininet.dll");
  }
  return check_(ansi(url).c_str(), kForceConnection, 0);
}

}  // namespace win32
