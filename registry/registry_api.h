// The five registry calls the registry layer makes, with the semantics it relies on. Windows
// implements them over advapi32; the unit tests over an in-memory fake.
#pragma once

#include <cstdint>

#include "runtime/text.h"

namespace registry {

// Predefined root keys, as the 32-bit values the procedures pass around.
inline constexpr int32_t kHKeyCurrentUser = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t kHKeyLocalMachine = static_cast<int32_t>(0x80000002u);

// Value types the layer reads and writes.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// Statuses the layer looks at or tests expect.
inline constexpr int32_t kErrorSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorAccessDenied = 5;
inline constexpr int32_t kErrorInvalidHandle = 6;
inline constexpr int32_t kErrorMoreData = 234;

// An open key; 0 is no key.
using KeyHandle = std::uintptr_t;

class RegistryApi {
 public:
  virtual ~RegistryApi() = default;

  // Opens an existing key. Sets `handle` to the key, or to 0 when it cannot be opened.
  virtual int32_t openKey(int32_t rootKey, rt::TextView path, KeyHandle& handle) = 0;
  // The same in the 64-bit view, whatever view the other calls use. 32-bit Windows ignores the
  // view, so there it opens the key in its only one.
  virtual int32_t openKeyIn64BitView(int32_t rootKey, rt::TextView path, KeyHandle& handle) = 0;
  // Opens a key, creating it and any missing keys above it. Sets `handle`, 0 on failure.
  virtual int32_t createKey(int32_t rootKey, rt::TextView path, KeyHandle& handle) = 0;
  // Without `data`: reports the value's type and size in bytes. With `data`: copies the value
  // into the `size` bytes at `data` and sets `size` to the data size; a buffer too small gives
  // kErrorMoreData with the needed size.
  virtual int32_t queryValue(KeyHandle key, rt::TextView name, uint32_t& type, uint8_t* data, uint32_t& size) = 0;
  // Stores the value, replacing one of the same name.
  virtual int32_t setValue(KeyHandle key, rt::TextView name, uint32_t type, const uint8_t* data, uint32_t size) = 0;
  // Releases the key; a handle of 0 only gives a failure status.
  virtual int32_t closeKey(KeyHandle key) = 0;
};

// Owns an open key: closed when it goes out of scope, whatever path leaves the procedure.
// close() makes the closing call explicitly and gives its status.
class RegistryKey {
 public:
  explicit RegistryKey(RegistryApi& api) : api_(api) {}
  ~RegistryKey() {
    if (handle_ == 0) return;
    try {
      api_.closeKey(handle_);
    } catch (...) {
      // Nothing more can be done for a key that will not close.
    }
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  KeyHandle get() const { return handle_; }
  // For the open and create calls: releases any key held, then hands out the handle variable.
  KeyHandle& put() {
    reset();
    return handle_;
  }
  // The closing call, made also for a handle of 0; the variable is 0 afterwards.
  int32_t close() {
    const int32_t status = api_.closeKey(handle_);
    handle_ = 0;
    return status;
  }
  void reset() {
    if (handle_ != 0) close();
  }
  // The handle as the error context lists it: a 32-bit value.
  int32_t value() const { return static_cast<int32_t>(handle_); }

 private:
  RegistryApi& api_;
  KeyHandle handle_ = 0;
};

}  // namespace registry
