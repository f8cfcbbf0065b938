// wininet.dll as someone might plant it beside TEST.exe in a Downloads folder: when any process
// loads it, it leaves a file named "planted-wininet-loaded" in its own folder. It also answers
// InternetCheckConnectionA with success, which would hide a missing connection.
#include <windows.h>

#include <string>

namespace {

void leaveMarker(HINSTANCE self) {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  path.resize(path.find_last_of(L'\\') + 1);
  path += L"planted-wininet-loaded";
  const HANDLE marker = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) leaveMarker(self);
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI InternetCheckConnectionA(const char*, DWORD, DWORD) { return TRUE; }
