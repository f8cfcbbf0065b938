// A system DLL as someone might plant it beside TEST.exe in a Downloads folder: when any process
// loads it, it leaves a file named "planted-NAME-loaded" in its own folder, NAME being its own
// file name without ".dll". The planted wininet.dll also answers InternetCheckConnectionA with
// success, which would hide a missing connection.
#include <windows.h>

#include <string>

namespace {

void leaveMarker(HINSTANCE self) {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  const size_t folderEnd = path.find_last_of(L'\\') + 1;
  std::wstring name = path.substr(folderEnd);
  name.resize(name.find_last_of(L'.'));
  CharLowerW(name.data());
  path.resize(folderEnd);
  path += L"planted-" + name + L"-loaded";
  const HANDLE marker = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) leaveMarker(self);
  return TRUE;
}

#ifdef PLANTED_WININET
extern "C" __declspec(dllexport) BOOL WINAPI InternetCheckConnectionA(const char*, DWORD, DWORD) { return TRUE; }
#endif
