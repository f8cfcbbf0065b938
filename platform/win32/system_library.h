// DLLs that the utility loads by name. Each comes from System32 only: the folder the program
// was started from (Downloads, say) and the current folder are never searched, so a DLL planted
// beside TEST.exe is never run.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

// A loaded DLL, freed with FreeLibrary.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE module) : module_(module) {}
  UniqueModule(UniqueModule&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  UniqueModule& operator=(UniqueModule&& other) noexcept {
    std::swap(module_, other.module_);
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  ~UniqueModule() {
    if (module_) FreeLibrary(module_);
  }

  HMODULE get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};

// `name` (a bare file name) loaded from System32; empty when it is not there.
UniqueModule loadSystemLibrary(const wchar_t* name);

// An exported function of `module` as the function type `Function`; null when it is missing.
template <class Function>
Function procedure(HMODULE module, const char* name) {
  if (!module) return nullptr;
  // void (*)() is the generic function pointer type: the cast from FARPROC goes through it.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace win32
