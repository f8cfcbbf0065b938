// An in-memory registry behind the registry API: any type, any bytes, any size, and failures on
// demand.
#pragma once

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "registry/registry_api.h"
#include "runtime/runtime_error.h"

namespace fakes {

struct StoredValue {
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};

class FakeRegistry : public registry::RegistryApi {
 public:
  enum class Call { Open, Create, Query, Set, Close };

  // Seeds a value, creating its key and the keys above it.
  void seed(int32_t root, rt::TextView path, rt::TextView name, uint32_t type, std::vector<uint8_t> bytes) {
    keys_[keyOf(root, path)][fold(name)] = {type, std::move(bytes)};
    createParents(root, path);
  }
  void seedText(int32_t root, rt::TextView path, rt::TextView name, rt::TextView text, bool withNul = true) {
    seed(root, path, name, registry::kRegSz, utf16Bytes(text, withNul));
  }
  void seedKey(int32_t root, rt::TextView path) {
    keys_[keyOf(root, path)];
    createParents(root, path);
  }
  // A key the 64-bit view holds; the other calls see the ordinary view only.
  void seedKeyIn64BitView(int32_t root, rt::TextView path) { keys64_.insert(keyOf(root, path)); }

  bool hasKey(int32_t root, rt::TextView path) const { return keys_.count(keyOf(root, path)) != 0; }
  const StoredValue* value(int32_t root, rt::TextView path, rt::TextView name) const {
    auto key = keys_.find(keyOf(root, path));
    if (key == keys_.end()) return nullptr;
    auto found = key->second.find(fold(name));
    return found == key->second.end() ? nullptr : &found->second;
  }

  // Written out here rather than taken from rt::toUtf16Bytes, so that a byte-order slip in the
  // product fails the tests.
  static std::vector<uint8_t> utf16Bytes(rt::TextView text, bool withNul = true) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (withNul) bytes.insert(bytes.end(), {0, 0});
    return bytes;
  }
  static std::vector<uint8_t> dwordBytes(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
  }

  // The next call of `call` raises this runtime error instead of running (once).
  void failNext(Call call, int32_t number) { failures_[call] = number; }
  // Runs before every call of `call` (to change the registry between two queries, say).
  std::map<Call, std::function<void()>> before;
  // Statuses forced on the next call of a kind, returned without effect (once).
  std::map<Call, int32_t> forcedStatus;

  int openHandles() const { return static_cast<int>(handles_.size()); }
  int calls(Call call) const { return static_cast<int>(std::count(log_.begin(), log_.end(), call)); }

  int32_t openKey(int32_t root, rt::TextView path, registry::KeyHandle& handle) override {
    enter(Call::Open);
    handle = 0;
    if (int32_t status; forced(Call::Open, status)) return status;
    if (!hasKey(root, path)) return registry::kErrorFileNotFound;
    handle = nextHandle_++;
    handles_[handle] = keyOf(root, path);
    return registry::kErrorSuccess;
  }

  int32_t openKeyIn64BitView(int32_t root, rt::TextView path, registry::KeyHandle& handle) override {
    enter(Call::Open);
    handle = 0;
    if (keys64_.count(keyOf(root, path)) == 0) return registry::kErrorFileNotFound;
    handle = nextHandle_++;
    handles_[handle] = keyOf(root, path);  // held only to be closed
    return registry::kErrorSuccess;
  }

  int32_t createKey(int32_t root, rt::TextView path, registry::KeyHandle& handle) override {
    enter(Call::Create);
    handle = 0;
    if (int32_t status; forced(Call::Create, status)) return status;
    seedKey(root, path);
    handle = nextHandle_++;
    handles_[handle] = keyOf(root, path);
    return registry::kErrorSuccess;
  }

  int32_t queryValue(registry::KeyHandle key, rt::TextView name, uint32_t& type, uint8_t* data,
                     uint32_t& size) override {
    enter(Call::Query);
    if (int32_t status; forced(Call::Query, status)) return status;
    auto handle = handles_.find(key);
    if (handle == handles_.end()) return registry::kErrorInvalidHandle;
    auto& values = keys_[handle->second];
    auto found = values.find(fold(name));
    if (found == values.end()) return registry::kErrorFileNotFound;
    const StoredValue& stored = found->second;
    type = stored.type;
    const auto needed = static_cast<uint32_t>(stored.bytes.size());
    if (data == nullptr) {
      size = needed;
      return registry::kErrorSuccess;
    }
    if (size < needed) {
      size = needed;
      return registry::kErrorMoreData;
    }
    std::copy(stored.bytes.begin(), stored.bytes.end(), data);
    size = needed;
    return registry::kErrorSuccess;
  }

  int32_t setValue(registry::KeyHandle key, rt::TextView name, uint32_t type, const uint8_t* data,
                   uint32_t size) override {
    enter(Call::Set);
    if (int32_t status; forced(Call::Set, status)) return status;
    auto handle = handles_.find(key);
    if (handle == handles_.end()) return registry::kErrorInvalidHandle;
    keys_[handle->second][fold(name)] = {type, std::vector<uint8_t>(data, data + size)};
    return registry::kErrorSuccess;
  }

  int32_t closeKey(registry::KeyHandle key) override {
    enter(Call::Close);
    if (handles_.erase(key) == 0) return registry::kErrorInvalidHandle;
    return registry::kErrorSuccess;
  }

 private:
  static std::u16string fold(rt::TextView text) {
    std::u16string out(text);
    for (char16_t& c : out)
      if (c < 128) c = static_cast<char16_t>(std::tolower(c));
    return out;
  }
  static std::u16string keyOf(int32_t root, rt::TextView path) {
    return rt::Text(1, static_cast<char16_t>(root & 0xF)) + u":" + fold(path);
  }
  void createParents(int32_t root, rt::TextView path) {
    for (size_t at = path.find(u'\\'); at != rt::TextView::npos; at = path.find(u'\\', at + 1))
      keys_[keyOf(root, path.substr(0, at))];
  }
  void enter(Call call) {
    log_.push_back(call);
    if (auto hook = before.find(call); hook != before.end() && hook->second) hook->second();
    if (auto failure = failures_.find(call); failure != failures_.end()) {
      const int32_t number = failure->second;
      failures_.erase(failure);
      rt::raise(number);
    }
  }
  bool forced(Call call, int32_t& status) {
    auto found = forcedStatus.find(call);
    if (found == forcedStatus.end()) return false;
    status = found->second;
    forcedStatus.erase(found);
    return true;
  }

  std::map<std::u16string, std::map<std::u16string, StoredValue>> keys_;
  std::set<std::u16string> keys64_;
  std::map<registry::KeyHandle, std::u16string> handles_;
  std::map<Call, int32_t> failures_;
  std::vector<Call> log_;
  registry::KeyHandle nextHandle_ = 0x100;
};

}  // namespace fakes
