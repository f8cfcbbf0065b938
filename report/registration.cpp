#include "registration.h"

#include <objbase.h>

#include "failure.h"

namespace vbgreport {
namespace {

class WindowsRegistry final : public Registry {
 public:
  LSTATUS keyExists(HKEY root, const std::wstring& path, bool* exists) override {
    unique_hkey key;
    const LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put());
    *exists = status == ERROR_SUCCESS;
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }

  LSTATUS createKey(HKEY root, const std::wstring& path, bool* created) override {
    unique_hkey key;
    DWORD disposition = 0;
    const LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE,
                                           nullptr, key.put(), &disposition);
    *created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return status;
  }

  LSTATUS queryValue(HKEY root, const std::wstring& path, const wchar_t* name, RegistryValue* value) override {
    unique_hkey key;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (status != ERROR_SUCCESS) return status;
    for (;;) {
      DWORD size = static_cast<DWORD>(value->data.size());
      status = RegQueryValueExW(key.get(), name, nullptr, &value->type, value->data.empty() ? nullptr : value->data.data(), &size);
      if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && value->data.empty() && size > 0)) {
        value->data.resize(size);
        continue;
      }
      if (status == ERROR_SUCCESS) value->data.resize(size);
      return status;
    }
  }

  LSTATUS setValue(HKEY root, const std::wstring& path, const wchar_t* name, const RegistryValue& value) override {
    unique_hkey key;
    const LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.get(), name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
  }

  LSTATUS deleteValue(HKEY root, const std::wstring& path, const wchar_t* name) override {
    unique_hkey key;
    const LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS) return status;
    return RegDeleteValueW(key.get(), name);
  }

  LSTATUS deleteKey(HKEY root, const std::wstring& path) override { return RegDeleteKeyW(root, path.c_str()); }

  LSTATUS deleteTree(HKEY root, const std::wstring& path) override {
    // Opened with what emptying and removing it takes, and nothing more.
    unique_hkey key;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
                                   key.put());
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeW(key.get(), nullptr);
    key.reset();
    if (status != ERROR_SUCCESS) return status;
    return RegDeleteKeyW(root, path.c_str());
  }
};

// What one registration changed, so that a failure can undo it: the keys it created, and each
// value it set with what the value held before (nothing when it was absent).
class RegistryChanges {
 public:
  RegistryChanges(Registry& registry, HKEY root) noexcept : registry_(registry), root_(root) {}
  RegistryChanges(const RegistryChanges&) = delete;
  RegistryChanges& operator=(const RegistryChanges&) = delete;
  ~RegistryChanges() { undo(); }

  // Creates the key at `path` and each missing key on the way, from `existing` down.
  void createKey(const std::wstring& existing, const std::wstring& path) {
    for (size_t end = existing.size(); end < path.size();) {
      end = path.find(L'\\', end + 1);
      if (end == std::wstring::npos) end = path.size();
      const std::wstring level = path.substr(0, end);
      bool created = false;
      checkStatus(registry_.createKey(root_, level, &created));
      if (created) createdKeys_.push_back(level);
    }
  }

  void setText(const std::wstring& path, const wchar_t* name, std::wstring_view text) {
    SetValue change{path, name ? name : L"", name == nullptr, false, {}};
    const LSTATUS status = registry_.queryValue(root_, path, name, &change.before);
    if (status == ERROR_SUCCESS)
      change.existed = true;
    else if (status != ERROR_FILE_NOT_FOUND)
      checkStatus(status);
    setValues_.push_back(std::move(change));
    checkStatus(registry_.setValue(root_, path, name, textValue(text)));
  }

  void commit() noexcept {
    createdKeys_.clear();
    setValues_.clear();
  }

 private:
  struct SetValue {
    std::wstring path;
    std::wstring name;
    bool isDefault;
    bool existed;
    RegistryValue before;
  };

  // Latest change first. Best effort: a step that fails does not stop the others.
  void undo() noexcept {
    for (auto change = setValues_.rbegin(); change != setValues_.rend(); ++change) {
      const wchar_t* name = change->isDefault ? nullptr : change->name.c_str();
      try {
        if (change->existed)
          registry_.setValue(root_, change->path, name, change->before);
        else
          registry_.deleteValue(root_, change->path, name);
      } catch (...) {
      }
    }
    for (auto key = createdKeys_.rbegin(); key != createdKeys_.rend(); ++key) {
      try {
        registry_.deleteKey(root_, *key);
      } catch (...) {
      }
    }
    commit();
  }

  Registry& registry_;
  HKEY root_;
  std::vector<std::wstring> createdKeys_;
  std::vector<SetValue> setValues_;
};

bool sameText(std::wstring_view a, std::wstring_view b) noexcept {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The text of a REG_SZ or REG_EXPAND_SZ value (the key's default value unless `name` is given),
// without its terminator; nothing when absent.
std::optional<std::wstring> textAt(Registry& registry, HKEY root, const std::wstring& path,
                                   const wchar_t* name = nullptr) {
  RegistryValue value;
  const LSTATUS status = registry.queryValue(root, path, name, &value);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  checkStatus(status);
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return std::wstring();
  std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
  if (const size_t end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
  return text;
}

// The class a ProgID named before this module took it over, kept under the ProgID's key until
// unregistration gives it back: "" when the key was there but named no class.
constexpr wchar_t kReplacedClassValue[] = L"VBGuardReport.ReplacedCLSID";

void deleteTreeIfPresent(Registry& registry, HKEY root, const std::wstring& path) {
  const LSTATUS status = registry.deleteTree(root, path);
  if (status != ERROR_FILE_NOT_FOUND) checkStatus(status);
}

}  // namespace

Registry& windowsRegistry() {
  static WindowsRegistry registry;
  return registry;
}

std::wstring classIdText(const CLSID& classId) {
  wchar_t text[40];
  StringFromGUID2(classId, text, 40);
  return text;
}

RegistryValue textValue(std::wstring_view text) {
  RegistryValue value{REG_SZ, {}};
  const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
  value.data.assign(bytes, bytes + text.size() * sizeof(wchar_t));
  value.data.insert(value.data.end(), sizeof(wchar_t), 0);
  return value;
}

HRESULT registerClasses(Registry& registry, HKEY root, const std::wstring& classes, std::span<const ServedClass> served,
                        const std::wstring& serverPath) noexcept {
  return hresultOf([&] {
    RegistryChanges changes(registry, root);
    changes.createKey(L"", classes);
    for (const ServedClass& one : served) {
      const std::wstring classKey = classes + L"\\CLSID\\" + classIdText(*one.classId);
      changes.createKey(classes, classKey);
      changes.setText(classKey, nullptr, one.friendlyName);
      changes.createKey(classKey, classKey + L"\\InprocServer32");
      changes.setText(classKey + L"\\InprocServer32", nullptr, serverPath);
      changes.setText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
      changes.createKey(classKey, classKey + L"\\ProgID");
      changes.setText(classKey + L"\\ProgID", nullptr, one.progId);

      // A ProgID that names another class, or none, is taken over, and what it named is kept;
      // one that already names this class (a second registration, another copy) keeps what was
      // kept then.
      const std::wstring progIdKey = classes + L"\\" + one.progId;
      bool progIdPresent = false;
      checkStatus(registry.keyExists(root, progIdKey, &progIdPresent));
      const std::optional<std::wstring> named = textAt(registry, root, progIdKey + L"\\CLSID");
      changes.createKey(classes, progIdKey);
      if (progIdPresent && !(named && sameText(*named, classIdText(*one.classId))))
        changes.setText(progIdKey, kReplacedClassValue, named.value_or(L""));
      changes.setText(progIdKey, nullptr, one.friendlyName);
      changes.createKey(progIdKey, progIdKey + L"\\CLSID");
      changes.setText(progIdKey + L"\\CLSID", nullptr, classIdText(*one.classId));
    }
    changes.commit();
    return S_OK;
  });
}

HRESULT unregisterClasses(Registry& registry, HKEY root, const std::wstring& classes,
                          std::span<const ServedClass> served, const std::wstring& serverPath) noexcept {
  return hresultOf([&] {
    for (const ServedClass& one : served) {
      const std::wstring classId = classIdText(*one.classId);
      const std::wstring classKey = classes + L"\\CLSID\\" + classId;
      bool classPresent = false;
      checkStatus(registry.keyExists(root, classKey, &classPresent));
      const std::optional<std::wstring> server = textAt(registry, root, classKey + L"\\InprocServer32");
      if (classPresent && server && sameText(*server, serverPath)) {
        deleteTreeIfPresent(registry, root, classKey);
        classPresent = false;
      }
      // A ProgID that names another class, or a class served by another module, stays. One this
      // module took over names again what it named before; one it created goes.
      const std::wstring progIdKey = classes + L"\\" + one.progId;
      const std::optional<std::wstring> named = textAt(registry, root, progIdKey + L"\\CLSID");
      if (classPresent || !named || !sameText(*named, classId)) continue;
      const std::optional<std::wstring> replaced = textAt(registry, root, progIdKey, kReplacedClassValue);
      if (!replaced) {
        deleteTreeIfPresent(registry, root, progIdKey);
        continue;
      }
      if (!replaced->empty())
        checkStatus(registry.setValue(root, progIdKey + L"\\CLSID", nullptr, textValue(*replaced)));
      else
        deleteTreeIfPresent(registry, root, progIdKey + L"\\CLSID");
      checkStatus(registry.deleteValue(root, progIdKey, kReplacedClassValue));
    }
    return S_OK;
  });
}

}  // namespace vbgreport
