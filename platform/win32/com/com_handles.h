// Owners for the COM and OLE Automation handles the Windows bindings hold. Each releases its
// handle the one way that kind of handle is released, and none can be copied by accident: a
// shallow copy of a BSTR, VARIANT or SAFEARRAY is a double free waiting to happen.
#pragma once

#include <windows.h>
// needs windows.h first
#include <oleauto.h>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace com {

// An interface pointer, released on destruction.
template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  // Takes over a reference the caller already holds (an out-parameter filled elsewhere).
  static ComPtr attach(Interface* pointer) {
    ComPtr owner;
    owner.pointer_ = pointer;
    return owner;
  }
  // Takes a reference of its own on a pointer the caller only borrows.
  static ComPtr borrow(Interface* pointer) {
    if (pointer) pointer->AddRef();
    return attach(pointer);
  }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // Releases the current reference before handing out the slot for a new one.
  Interface** put() {
    reset();
    return &pointer_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  Interface* detach() { return std::exchange(pointer_, nullptr); }
  void reset() {
    if (Interface* old = std::exchange(pointer_, nullptr)) old->Release();
  }

  // Another reference to the same object.
  ComPtr copy() const { return borrow(pointer_); }

  // The object's `Other` interface; null when it has none.
  template <class Other>
  ComPtr<Other> query() const {
    ComPtr<Other> other;
    if (pointer_ && FAILED(pointer_->QueryInterface(__uuidof(Other), other.putVoid()))) other.detach();
    return other;
  }

 private:
  Interface* pointer_ = nullptr;
};

// A BSTR, freed with SysFreeString.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR owned) : string_(owned) {}
  UniqueBstr(UniqueBstr&& other) noexcept : string_(std::exchange(other.string_, nullptr)) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) {
      reset();
      string_ = std::exchange(other.string_, nullptr);
    }
    return *this;
  }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  ~UniqueBstr() { reset(); }

  BSTR get() const { return string_; }
  BSTR* put() {
    reset();
    return &string_;
  }
  BSTR release() { return std::exchange(string_, nullptr); }
  void reset() { SysFreeString(std::exchange(string_, nullptr)); }

 private:
  BSTR string_ = nullptr;
};

// A VARIANT, cleared with VariantClear (which frees its string, array or interface).
class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&value_); }
  UniqueVariant(UniqueVariant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { reset(); }

  // The value in place; writing through it keeps the ownership here.
  VARIANT* get() { return &value_; }
  const VARIANT* get() const { return &value_; }
  VARTYPE type() const { return value_.vt; }

  // Clears the current value before handing out the slot for a new one.
  VARIANT* put() {
    reset();
    return &value_;
  }
  // Hands the value over to a caller that will clear it; this one is left Empty.
  VARIANT release() {
    VARIANT out = value_;
    VariantInit(&value_);
    return out;
  }
  void reset() {
    VariantClear(&value_);
    VariantInit(&value_);
  }

  // A run of owners is a run of VARIANTs, the way DISPPARAMS takes its arguments.
  static VARIANT* asArray(UniqueVariant* first) { return reinterpret_cast<VARIANT*>(first); }

 private:
  VARIANT value_;
};
static_assert(sizeof(UniqueVariant) == sizeof(VARIANT) && std::is_standard_layout_v<UniqueVariant>);

// A SAFEARRAY, destroyed with SafeArrayDestroy (which frees its elements too).
class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  explicit UniqueSafeArray(SAFEARRAY* owned) : array_(owned) {}
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : array_(std::exchange(other.array_, nullptr)) {}
  UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
    if (this != &other) {
      reset();
      array_ = std::exchange(other.array_, nullptr);
    }
    return *this;
  }
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
  ~UniqueSafeArray() { reset(); }

  SAFEARRAY* get() const { return array_; }
  SAFEARRAY** put() {
    reset();
    return &array_;
  }
  SAFEARRAY* release() { return std::exchange(array_, nullptr); }
  void reset() {
    if (SAFEARRAY* old = std::exchange(array_, nullptr)) SafeArrayDestroy(old);
  }

 private:
  SAFEARRAY* array_ = nullptr;
};

// The EXCEPINFO of one IDispatch::Invoke call; its three strings are freed on destruction.
class UniqueExcepInfo {
 public:
  UniqueExcepInfo() = default;
  UniqueExcepInfo(const UniqueExcepInfo&) = delete;
  UniqueExcepInfo& operator=(const UniqueExcepInfo&) = delete;
  ~UniqueExcepInfo() { reset(); }

  EXCEPINFO* get() { return &info_; }
  const EXCEPINFO* get() const { return &info_; }
  EXCEPINFO* put() {
    reset();
    return &info_;
  }
  void reset() {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
    info_ = EXCEPINFO{};
  }

 private:
  EXCEPINFO info_{};
};

// COM initialised as a single-threaded apartment for the life of the guard, on the thread
// that made it. Every object created in the apartment must be released before the guard goes.
class ComApartment {
 public:
  // Raises a runtime error when the thread is already in a multithreaded apartment.
  ComApartment();
  ComApartment(ComApartment&& other) noexcept : initialised_(std::exchange(other.initialised_, false)) {}
  ComApartment& operator=(ComApartment&&) = delete;
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialised_) CoUninitialize();
  }

 private:
  bool initialised_ = false;
};

}  // namespace com
