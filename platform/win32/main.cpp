// TEST.exe: starting the utility loads and shows Form1; unloading it ends the utility.
#include <windows.h>
#include <oleauto.h>

#include <cstdlib>

#include "app/Form1.h"
#include "checks/environment_checks.h"
#include "errors/modVBGuard.h"
#include "errors/uncaught.h"
#include "platform/win32/com/automation_error.h"
#include "platform/win32/com/com_automation.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/handles/handles.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/request_wait.h"
#include "platform/win32/system_library.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/winhttp_proxy.h"
#include "platform/win32/wininet_connection.h"
#include "probe_addresses.h"
#include "registry/modRegistro.h"
#include "runtime/number_format.h"
#include "version.h"

namespace {

// The ordinary registry calls see the registry as a 32-bit program does; a 64-bit build asks
// for that view explicitly.
#ifdef _WIN64
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kRegistryView = 0;
#endif

rt::NumberFormat userNumberFormat() {
  rt::NumberFormat format;
  wchar_t separator[8] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) > 1)
    format.decimalSeparator = static_cast<char16_t>(separator[0]);
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8) > 1)
    format.groupSeparator = static_cast<char16_t>(separator[0]);
  return format;
}

// The folder of the executable, without a trailing backslash unless it is a drive's root.
rt::Text applicationFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return u"";
  if (slash == 2 && path[1] == L':') ++slash;  // "C:\"
  return win32::text(path.substr(0, slash));
}

rt::OleDate localNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  double date = 0;
  SystemTimeToVariantTime(&now, &date);
  return rt::OleDate{date};
}

int run(HINSTANCE instance, int showCommand) {
  const handles::unique_apartment apartment;
  if (FAILED(apartment.status())) throw com::automationError(apartment.status());
  rt::setUserNumberFormat(userNumberFormat());

  errors::ErrorState state;
  com::ComAutomation automation;
  errors::modVBGuard guard(state, automation,
                           {applicationFolder(), app::kAppTitle, kVersionMajor, kVersionMinor, kVersionRevision},
                           localNow);
  const errors::Protocol protocol{state, guard};

  win32::Win32Registry registryApi(kRegistryView);
  win32::WininetConnectionTest connection;
  win32::MessageDispatchingWait requestWait;
  win32::WinHttpProxyLookup proxies;
  registry::modRegistro modRegistro(protocol, registryApi, automation);
  checks::EnvironmentChecks checks(modRegistro, automation, connection, requestWait, proxies,
                                   {kProbeSiteUrl, kProbeSearchUrl});

  win32::MainWindow window(instance);
  app::Form1 form(protocol, window, modRegistro, checks);
  if (!window.create(form, showCommand)) return 1;
  // Before the first click can start a run, and after the window is up so as not to delay it.
  connection.load();
  // The HTTP request object imports urlmon by name, and Wine's looks for it beside the program
  // whatever the default DLL directories say. Once System32's is loaded, that name is taken.
  const handles::unique_hmodule urlmon = win32::loadSystemLibrary(L"urlmon.dll");
  return window.runMessageLoop();
}

}  // namespace

// The C++ runtime's default terminate handler prints the name of the exception that ended the
// program and brings the whole demangler into the executable for it (some 45 KB). Every
// failure is caught before it could get there; should one not be, ending at once is enough.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Before any window or COM object exists: a DLL that Windows or a component loads later on
  // the program's behalf by bare name (the theme library for the first window, say), and every
  // DLL it brings, comes from System32, never from the folder the program was started from
  // (Downloads, where a planted DLL may wait beside it).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  try {
    return run(instance, showCommand);
  } catch (...) {
    const rt::Text message = errors::runtimeErrorMessage(rt::currentFailure().record());
    MessageBoxW(nullptr, win32::wide(message).c_str(), win32::wide(app::kAppTitle).c_str(), MB_OK | MB_ICONERROR);
    return 1;
  }
}
