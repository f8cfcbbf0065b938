// Owners for the Windows and COM handles that TEST.exe and the report component hold. Each
// releases its handle the one way that kind of handle is released, exactly once, on every path,
// the error paths included; none can be copied, since a shallow copy of a key, a BSTR or a
// SAFEARRAY is a double free waiting to happen. Handles only: no behaviour lives here.
#pragma once

#include <windows.h>
// needs windows.h first
#include <oleauto.h>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace handles {

// A handle described by Traits: its type (Traits::type), the value that holds nothing
// (Traits::invalid()) and how it is released (Traits::close(handle)).
template <class Traits>
class unique_any {
 public:
  using pointer = typename Traits::type;

  unique_any() noexcept = default;
  explicit unique_any(pointer owned) noexcept : handle_(owned) {}
  unique_any(unique_any&& other) noexcept : handle_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  ~unique_any() { reset(); }

  pointer get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }
  pointer release() noexcept { return std::exchange(handle_, Traits::invalid()); }
  void reset(pointer owned = Traits::invalid()) noexcept {
    const pointer old = std::exchange(handle_, owned);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // Releases the current handle before handing out the slot for a new one.
  pointer* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  pointer handle_ = Traits::invalid();
};

namespace traits {

// Handles for which null means none.
template <class Handle, auto Close>
struct null_is_none {
  using type = Handle;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle handle) noexcept { Close(handle); }
};

// File handles, for which INVALID_HANDLE_VALUE means none.
struct file {
  using type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// The device context of the whole screen, from GetDC(nullptr).
struct screen_dc {
  using type = HDC;
  static HDC invalid() noexcept { return nullptr; }
  static void close(HDC dc) noexcept { ReleaseDC(nullptr, dc); }
};

// A string that a Windows function allocated with GlobalAlloc and hands to the caller to free.
struct global_string {
  using type = LPWSTR;
  static LPWSTR invalid() noexcept { return nullptr; }
  static void close(LPWSTR text) noexcept { GlobalFree(text); }
};

}  // namespace traits

using unique_hkey = unique_any<traits::null_is_none<HKEY, &RegCloseKey>>;
using unique_hmodule = unique_any<traits::null_is_none<HMODULE, &FreeLibrary>>;
using unique_handle = unique_any<traits::null_is_none<HANDLE, &CloseHandle>>;
using unique_hfile = unique_any<traits::file>;
using unique_hfont = unique_any<traits::null_is_none<HFONT, &DeleteObject>>;
using unique_hbrush = unique_any<traits::null_is_none<HBRUSH, &DeleteObject>>;
using unique_hpen = unique_any<traits::null_is_none<HPEN, &DeleteObject>>;
using unique_screen_dc = unique_any<traits::screen_dc>;
using unique_global_string = unique_any<traits::global_string>;
using unique_bstr = unique_any<traits::null_is_none<BSTR, &SysFreeString>>;
using unique_safearray = unique_any<traits::null_is_none<SAFEARRAY*, &SafeArrayDestroy>>;

// An interface pointer, released on destruction.
template <class Interface>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  com_ptr(com_ptr&& other) noexcept : pointer_(other.detach()) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) reset(other.detach());
    return *this;
  }
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  ~com_ptr() { reset(); }

  // Takes over a reference the caller already holds (an out-parameter filled elsewhere).
  static com_ptr attach(Interface* owned) noexcept {
    com_ptr pointer;
    pointer.pointer_ = owned;
    return pointer;
  }
  // Takes a reference of its own on a pointer the caller only borrows.
  static com_ptr borrow(Interface* borrowed) noexcept {
    if (borrowed) borrowed->AddRef();
    return attach(borrowed);
  }

  Interface* get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  // Releases the current reference before handing out the slot for a new one.
  Interface** put() noexcept {
    reset();
    return &pointer_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  Interface* detach() noexcept { return std::exchange(pointer_, nullptr); }
  void reset(Interface* owned = nullptr) noexcept {
    if (Interface* old = std::exchange(pointer_, owned)) old->Release();
  }

  // Another reference to the same object.
  com_ptr copy() const noexcept { return borrow(pointer_); }

  // The object's `Other` interface; empty when it has none.
  template <class Other>
  com_ptr<Other> query() const noexcept {
    com_ptr<Other> other;
    if (pointer_ && FAILED(pointer_->QueryInterface(__uuidof(Other), other.put_void()))) other.detach();
    return other;
  }

 private:
  Interface* pointer_ = nullptr;
};

// A VARIANT, cleared with VariantClear (which frees its string, array or interface).
class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&value_); }
  unique_variant(unique_variant&& other) noexcept : value_(other.release()) {}
  unique_variant& operator=(unique_variant&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.release();
    }
    return *this;
  }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { reset(); }

  // The value in place; writing through it keeps the ownership here.
  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  VARTYPE type() const noexcept { return value_.vt; }

  // Clears the current value before handing out the slot for a new one.
  VARIANT* put() noexcept {
    reset();
    return &value_;
  }
  // Hands the value over to a caller that will clear it; this one is left Empty.
  VARIANT release() noexcept {
    VARIANT out = value_;
    VariantInit(&value_);
    return out;
  }
  void reset() noexcept {
    VariantClear(&value_);
    VariantInit(&value_);
  }

  // A run of owners is a run of VARIANTs, the way DISPPARAMS takes its arguments.
  static VARIANT* as_array(unique_variant* first) noexcept { return reinterpret_cast<VARIANT*>(first); }

 private:
  VARIANT value_;
};
static_assert(sizeof(unique_variant) == sizeof(VARIANT) && std::is_standard_layout_v<unique_variant>);

// The EXCEPINFO of one IDispatch::Invoke call; its three strings are freed on destruction.
class unique_excepinfo {
 public:
  unique_excepinfo() noexcept = default;
  unique_excepinfo(const unique_excepinfo&) = delete;
  unique_excepinfo& operator=(const unique_excepinfo&) = delete;
  ~unique_excepinfo() { reset(); }

  EXCEPINFO* get() noexcept { return &info_; }
  const EXCEPINFO* get() const noexcept { return &info_; }
  EXCEPINFO* put() noexcept {
    reset();
    return &info_;
  }
  void reset() noexcept {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
    info_ = EXCEPINFO{};
  }

 private:
  EXCEPINFO info_{};
};

// COM initialised on the calling thread as a single-threaded apartment, for the life of the
// owner. Every object created in the apartment must be released before the owner goes.
class unique_apartment {
 public:
  unique_apartment() noexcept
      : status_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  unique_apartment(const unique_apartment&) = delete;
  unique_apartment& operator=(const unique_apartment&) = delete;
  // S_FALSE (already initialised on this thread) still takes a reference to give back.
  ~unique_apartment() {
    if (SUCCEEDED(status_)) CoUninitialize();
  }

  // What CoInitializeEx answered: a failure when the thread is in a multithreaded apartment.
  HRESULT status() const noexcept { return status_; }

 private:
  HRESULT status_;
};

}  // namespace handles
