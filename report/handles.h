// Owners for the Windows and COM resources the component handles: each closes its resource
// exactly once, on every path, and can only be moved. Failures are thrown as Failure and turned
// back into an HRESULT at the COM edge.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vbgreport {

// A failed Windows or COM call, carrying its code and what it means to the user. A rejection is
// a call refused for its own arguments: it goes back to the caller as the bare dispatch error,
// with `argument` the DISPPARAMS index of the argument at fault when there is one.
class Failure : public std::exception {
 public:
  explicit Failure(HRESULT code, std::wstring description = {}) : code_(code), description_(std::move(description)) {}

  static constexpr UINT kNoArgument = ~0u;

  static Failure rejection(HRESULT code, UINT argument = kNoArgument) {
    Failure failure(code);
    failure.rejection_ = true;
    failure.argument_ = argument;
    return failure;
  }

  HRESULT code() const noexcept { return code_; }
  const std::wstring& description() const noexcept { return description_; }
  bool isRejection() const noexcept { return rejection_; }
  UINT argument() const noexcept { return argument_; }
  const char* what() const noexcept override { return "VBGuardReport failure"; }

 private:
  HRESULT code_;
  std::wstring description_;
  bool rejection_ = false;
  UINT argument_ = kNoArgument;
};

inline void check(HRESULT hr) {
  if (FAILED(hr)) throw Failure(hr);
}

inline void checkStatus(LSTATUS status) {
  if (status != ERROR_SUCCESS) throw Failure(HRESULT_FROM_WIN32(status));
}

class unique_bstr {
 public:
  unique_bstr() = default;
  explicit unique_bstr(BSTR owned) noexcept : text_(owned) {}
  unique_bstr(unique_bstr&& other) noexcept : text_(other.release()) {}
  unique_bstr& operator=(unique_bstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_bstr() { reset(); }

  static unique_bstr copyOf(std::wstring_view text) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy) throw Failure(E_OUTOFMEMORY);
    return unique_bstr(copy);
  }

  BSTR get() const noexcept { return text_; }
  BSTR release() noexcept { return std::exchange(text_, nullptr); }
  void reset(BSTR owned = nullptr) noexcept { SysFreeString(std::exchange(text_, owned)); }
  BSTR* put() noexcept {
    reset();
    return &text_;
  }
  // A null BSTR is the empty string.
  std::wstring_view view() const noexcept { return {text_ ? text_ : L"", SysStringLen(text_)}; }

 private:
  BSTR text_ = nullptr;
};

class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&value_); }
  unique_variant(unique_variant&& other) noexcept : value_(other.release()) {}
  unique_variant& operator=(unique_variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.release();
    }
    return *this;
  }
  ~unique_variant() { VariantClear(&value_); }

  // A deep copy that follows a by-reference value to what it refers to.
  static unique_variant copyOf(const VARIANT& source) {
    unique_variant copy;
    check(VariantCopyInd(&copy.value_, const_cast<VARIANT*>(&source)));
    return copy;
  }
  static unique_variant ofText(std::wstring_view text) {
    unique_variant value;
    V_BSTR(&value.value_) = unique_bstr::copyOf(text).release();
    V_VT(&value.value_) = VT_BSTR;
    return value;
  }
  static unique_variant ofLong(LONG number) noexcept {
    unique_variant value;
    V_VT(&value.value_) = VT_I4;
    V_I4(&value.value_) = number;
    return value;
  }

  const VARIANT& get() const noexcept { return value_; }
  VARIANT* put() noexcept {
    VariantClear(&value_);
    return &value_;
  }
  VARIANT release() noexcept {
    VARIANT out = value_;
    VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

template <class Interface>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  com_ptr(com_ptr&& other) noexcept : object_(other.detach()) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) reset(other.detach());
    return *this;
  }
  ~com_ptr() { reset(); }

  // Takes over a reference the caller already holds.
  static com_ptr attach(Interface* owned) noexcept {
    com_ptr pointer;
    pointer.object_ = owned;
    return pointer;
  }
  // Adds a reference of its own.
  static com_ptr copyOf(Interface* borrowed) noexcept {
    if (borrowed) borrowed->AddRef();
    return attach(borrowed);
  }

  Interface* get() const noexcept { return object_; }
  Interface* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  Interface* detach() noexcept { return std::exchange(object_, nullptr); }
  void reset(Interface* owned = nullptr) noexcept {
    if (Interface* old = std::exchange(object_, owned)) old->Release();
  }
  Interface** put() noexcept {
    reset();
    return &object_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // The same object seen through another interface; empty when it has none.
  template <class Other>
  com_ptr<Other> query() const noexcept {
    com_ptr<Other> other;
    if (object_) object_->QueryInterface(__uuidof(Other), other.put_void());
    return other;
  }

 private:
  Interface* object_ = nullptr;
};

class unique_hkey {
 public:
  unique_hkey() = default;
  explicit unique_hkey(HKEY owned) noexcept : key_(owned) {}
  unique_hkey(unique_hkey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  unique_hkey& operator=(unique_hkey&& other) noexcept {
    if (this != &other) reset(std::exchange(other.key_, nullptr));
    return *this;
  }
  ~unique_hkey() { reset(); }

  HKEY get() const noexcept { return key_; }
  void reset(HKEY owned = nullptr) noexcept {
    if (HKEY old = std::exchange(key_, owned)) RegCloseKey(old);
  }
  HKEY* put() noexcept {
    reset();
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

class unique_file {
 public:
  unique_file() = default;
  explicit unique_file(HANDLE owned) noexcept : file_(owned) {}
  unique_file(unique_file&& other) noexcept : file_(std::exchange(other.file_, INVALID_HANDLE_VALUE)) {}
  unique_file& operator=(unique_file&& other) noexcept {
    if (this != &other) reset(std::exchange(other.file_, INVALID_HANDLE_VALUE));
    return *this;
  }
  ~unique_file() { reset(); }

  HANDLE get() const noexcept { return file_; }
  explicit operator bool() const noexcept { return file_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE owned = INVALID_HANDLE_VALUE) noexcept {
    if (HANDLE old = std::exchange(file_, owned); old != INVALID_HANDLE_VALUE) CloseHandle(old);
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// A device context of the whole screen, released with ReleaseDC.
class unique_screen_dc {
 public:
  unique_screen_dc() noexcept : context_(GetDC(nullptr)) {}
  ~unique_screen_dc() {
    if (context_) ReleaseDC(nullptr, context_);
  }
  unique_screen_dc(const unique_screen_dc&) = delete;
  unique_screen_dc& operator=(const unique_screen_dc&) = delete;

  HDC get() const noexcept { return context_; }

 private:
  HDC context_;
};

// Windows disabled for as long as this lives, enabled again afterwards: the ones given that were
// enabled when it started, and only those.
class disabled_windows {
 public:
  explicit disabled_windows(const std::vector<HWND>& windows) {
    disabled_.reserve(windows.size());
    for (HWND window : windows)
      if (IsWindowEnabled(window)) {
        disabled_.push_back(window);
        EnableWindow(window, FALSE);
      }
  }
  ~disabled_windows() {
    for (HWND window : disabled_)
      if (IsWindow(window)) EnableWindow(window, TRUE);
  }
  disabled_windows(const disabled_windows&) = delete;
  disabled_windows& operator=(const disabled_windows&) = delete;

 private:
  std::vector<HWND> disabled_;
};


}  // namespace vbgreport
