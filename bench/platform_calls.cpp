// The yardstick for one restore run: the platform calls TEST.exe makes for the benchmark's
// sample installation, made directly one after the other, with nothing of the utility around
// them. It shows a window with the utility's four controls first, so that its working set
// holds what the utility's does, and prints how long the calls took and its peak working set.
//
//   platform_calls.exe <connectivity page address>
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kTessaro[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{E2A68D5C-555B-4C3A-8505-137A33019415}}_is1";
const wchar_t kPerizon[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUADRELL Perizon_is1";
#ifdef _WIN64
constexpr REGSAM kView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kView = 0;
#endif

// A late-bound call, as bare as it comes. Arguments are given last first.
VARIANT invoke(IDispatch* object, const wchar_t* member, WORD flags, std::vector<VARIANT> reversed = {}) {
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &named;
    parameters.cNamedArgs = 1;
  }
  VARIANT result;
  VariantInit(&result);
  object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, &result, nullptr, nullptr);
  return result;
}

VARIANT text(const wchar_t* value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(value);
  return v;
}
VARIANT integer(LONG value, VARTYPE type = VT_I4) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  if (type == VT_I2) v.iVal = static_cast<SHORT>(value); else v.lVal = value;
  return v;
}
VARIANT missing() {
  VARIANT v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}
VARIANT object(IDispatch* d) {
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = d;
  return v;
}
IDispatch* create(const wchar_t* progId) {
  CLSID clsid;
  if (progId[0] == L'{') CLSIDFromString(progId, &clsid); else CLSIDFromProgID(progId, &clsid);
  IDispatch* d = nullptr;
  CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
  return d;
}
void clear(std::vector<VARIANT>& values) {
  for (VARIANT& v : values) VariantClear(&v);
}

// The user's proxy: the Internet Options, then a proxy script asked on a thread of its own. With
// automatic detection alone (the sample installation's, under Wine) the page is asked for at
// once, as TEST.exe asks for it; otherwise the script is waited for 10 s at most. Nothing is
// handed on: the sample installation names no proxy.
struct ScriptLookup {
  const wchar_t* address;
  BOOL autoDetect;
  const wchar_t* scriptAddress;
};

DWORD WINAPI askScript(void* parameter) {
  const auto* lookup = static_cast<const ScriptLookup*>(parameter);
  HINTERNET session = WinHttpOpen(L"PatchQUADRELL-Windows10", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return 0;
  WinHttpSetTimeouts(session, 10000, 10000, 10000, 10000);
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (lookup->autoDetect) {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = lookup->scriptAddress;
  }
  WINHTTP_PROXY_INFO info{};
  WinHttpGetProxyForUrl(session, lookup->address, &options, &info);
  GlobalFree(info.lpszProxy);
  GlobalFree(info.lpszProxyBypass);
  WinHttpCloseHandle(session);
  return 0;
}

void proxyLookup(const wchar_t* address) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return;
  if (config.fAutoDetect || config.lpszAutoConfigUrl) {
    static ScriptLookup lookup;
    lookup = {address, config.fAutoDetect, config.lpszAutoConfigUrl};
    if (HANDLE worker = CreateThread(nullptr, 0, &askScript, &lookup, 0, nullptr)) {
      const bool waited = config.lpszAutoConfigUrl || config.lpszProxy;
      const bool ended = waited && WaitForSingleObject(worker, 10000) == WAIT_OBJECT_0;
      CloseHandle(worker);
      if (!ended) return;  // the thread still reads the settings; the yardstick ends soon
    }
  }
  GlobalFree(config.lpszAutoConfigUrl);
  GlobalFree(config.lpszProxy);
  GlobalFree(config.lpszProxyBypass);
}

void httpGet(const wchar_t* address) {
  IDispatch* request = create(L"{88D96A0B-F192-11D4-A65F-0040963251E5}");
  std::vector<VARIANT> open{missing(), missing(), integer(VARIANT_TRUE, VT_BOOL), text(address), text(L"GET")};
  invoke(request, L"open", DISPATCH_METHOD, open);
  clear(open);
  invoke(request, L"setTimeouts", DISPATCH_METHOD, {integer(10000), integer(10000), integer(10000), integer(10000)});
  invoke(request, L"send", DISPATCH_METHOD, {missing()});
  // The asynchronous answer arrives through the thread's posted and sent messages.
  for (;;) {
    VARIANT state = invoke(request, L"readyState", DISPATCH_PROPERTYGET | DISPATCH_METHOD);
    const bool complete = state.vt == VT_I4 && state.lVal == 4;
    VariantClear(&state);
    if (complete) break;
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
      DispatchMessageW(&message);
    } else {
      MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER, 0);
    }
  }
  VARIANT body = invoke(request, L"responseText", DISPATCH_PROPERTYGET | DISPATCH_METHOD);
  VariantClear(&body);
  request->Release();
}

void wmiRead(const wchar_t* entry, const wchar_t* value) {
  IDispatch* context = create(L"WbemScripting.SWbemNamedValueSet");
  std::vector<VARIANT> add{integer(64, VT_I2), text(L"__ProviderArchitecture")};
  VARIANT added = invoke(context, L"Add", DISPATCH_METHOD, add);
  VariantClear(&added);
  clear(add);
  IDispatch* locator = create(L"Wbemscripting.SWbemLocator");
  std::vector<VARIANT> connect{object(context), missing(), missing(), missing(), text(L""), text(L""),
                               text(L"root\\default"), text(L"")};
  VARIANT services = invoke(locator, L"ConnectServer", DISPATCH_METHOD, connect);
  for (size_t i = 4; i < connect.size(); ++i) VariantClear(&connect[i]);
  std::vector<VARIANT> get{text(L"StdRegProv")};
  VARIANT provider = invoke(services.pdispVal, L"Get", DISPATCH_METHOD, get);
  clear(get);
  VARIANT methods = invoke(provider.pdispVal, L"Methods_", DISPATCH_PROPERTYGET | DISPATCH_METHOD);
  std::vector<VARIANT> item{text(L"GetStringValue")};
  VARIANT method = invoke(methods.pdispVal, L"Item", DISPATCH_METHOD, item);
  clear(item);
  VARIANT in = invoke(method.pdispVal, L"InParameters", DISPATCH_PROPERTYGET | DISPATCH_METHOD);
  invoke(in.pdispVal, L"hDefKey", DISPATCH_PROPERTYPUT, {integer(static_cast<LONG>(0x80000002u))});
  std::vector<VARIANT> key{text(entry)};
  invoke(in.pdispVal, L"sSubKeyName", DISPATCH_PROPERTYPUT, key);
  clear(key);
  std::vector<VARIANT> name{text(value)};
  invoke(in.pdispVal, L"sValueName", DISPATCH_PROPERTYPUT, name);
  clear(name);
  std::vector<VARIANT> exec{object(context), missing(), object(in.pdispVal), text(L"GetStringValue")};
  VARIANT out = invoke(provider.pdispVal, L"ExecMethod_", DISPATCH_METHOD, exec);
  VariantClear(&exec[3]);
  VARIANT result = invoke(out.pdispVal, L"sValue", DISPATCH_PROPERTYGET | DISPATCH_METHOD);
  for (VARIANT* v : {&result, &out, &in, &method, &methods, &provider, &services}) VariantClear(v);
  locator->Release();
  context->Release();
}

// An ordinary read: open, type and size, data, close; a failed open still closes (a 0 handle).
void registryRead(HKEY root, const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, MAXIMUM_ALLOWED | kView, &key) == ERROR_SUCCESS && name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      std::vector<BYTE> data(size);
      RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    }
  }
  RegCloseKey(key);
}

void registryWrite(const wchar_t* path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, MAXIMUM_ALLOWED | kView, nullptr, &key, nullptr);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

HWND showWindow(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"PlatformCalls";
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(0, L"PlatformCalls", L"Calls", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0, 0, 830,
                                160, nullptr, nullptr, instance, nullptr);
  CreateWindowExW(0, L"EDIT", L"heading", WS_CHILD | WS_VISIBLE, 0, 0, 809, 19, window, nullptr, instance, nullptr);
  HWND results = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, 0, 24, 809, 70,
                                 window, nullptr, instance, nullptr);
  CreateWindowExW(0, L"BUTTON", L"Ok", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 664, 96, 67, 25, window, nullptr,
                  instance, nullptr);
  CreateWindowExW(0, L"BUTTON", L"Chiudi", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 744, 96, 67, 25, window, nullptr,
                  instance, nullptr);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return results;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWND results = showWindow(GetModuleHandleW(nullptr));
  Sleep(200);  // as long as the launcher lets TEST.exe settle before it clicks

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);

  proxyLookup(argv[1]);
  httpGet(argv[1]);
  // Tessaro: the version and the folder only in the 64-bit view.
  registryRead(HKEY_LOCAL_MACHINE, kTessaro, L"DisplayVersion");
  wmiRead(kTessaro, L"DisplayVersion");
  wmiRead(kTessaro, L"DisplayVersion");
  registryRead(HKEY_CURRENT_USER, L"Software\\OKRAN\\Tessaro", nullptr);
  registryRead(HKEY_LOCAL_MACHINE, kTessaro, L"Inno Setup: App Path");
  wmiRead(kTessaro, L"Inno Setup: App Path");
  registryWrite(L"Software\\Microsoft\\Windows\\CurrentVersion\\Tessaro", L"InstallPath",
                L"C:\\Program Files\\QUADRELL\\Tessaro");
  // Perizon: everything in the ordinary view, the Limited configuration key.
  registryRead(HKEY_LOCAL_MACHINE, kPerizon, nullptr);
  registryRead(HKEY_LOCAL_MACHINE, kPerizon, L"DisplayVersion");
  registryRead(HKEY_CURRENT_USER, L"Software\\OKRAN\\Perizon", nullptr);
  registryRead(HKEY_CURRENT_USER, L"Software\\OKRAN\\PerizonLimited", nullptr);
  registryRead(HKEY_LOCAL_MACHINE, kPerizon, L"Inno Setup: Language");
  registryWrite(L"Software\\Microsoft\\Windows\\CurrentVersion\\Perizon", L"Lingua", L"Italiano");
  SetWindowTextW(results, L"two lines\r\nof results\r\n");

  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS memory{};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("{\"elapsed_ms\": %.3f, \"peak_working_set\": %llu}\n",
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
              static_cast<unsigned long long>(memory.PeakWorkingSetSize));
  std::fflush(stdout);
  CoUninitialize();
  return 0;
}
