// modRegistro: typed registry reads, key tests and writes through the registry API, and string
// reads from a chosen registry view through the WMI registry provider.
#pragma once

#include <cstdint>

#include "errors/error_state.h"
#include "registry/registry_api.h"
#include "runtime/automation.h"
#include "runtime/variant.h"

namespace registry {

class modRegistro : public errors::Module {
 public:
  modRegistro(errors::Protocol protocol, RegistryApi& api, rt::Automation& automation);

  rt::TextView moduleName() const override { return u"modRegistro"; }
  // Lists m_lngRetVal in the module-variables slot.
  void SetModuleVariables() override;

  // -1 when the key can be opened, 0 otherwise.
  int16_t regDoes_Key_Exist(int32_t lngRootKey, const rt::Text& strRegKeyPath);

  // Whether the key can be opened in the 64-bit view. A quiet test for a caller that must not
  // raise a report over an entry that is simply not there: not one of the module's procedures,
  // so no handler and no report, m_lngRetVal untouched, and any failure is a "no".
  bool keyExistsIn64BitView(int32_t lngRootKey, rt::TextView path);

  // The text of a REG_SZ value up to its first NUL, the 32-bit integer of a REG_DWORD value, or
  // "" when nothing can be read; Empty when the handler leaves before a result was set.
  rt::Variant regQuery_A_Key(int32_t lngRootKey, const rt::Text& strRegKeyPath, const rt::Text& strRegSubKey);

  // Creates the key where needed and stores `varRegData`: numeric text as REG_DWORD, anything
  // else as REG_SZ with its surrounding spaces removed. Registry failures are not reported; see
  // valueWritten().
  void regCreate_Key_Value(int32_t lngRootKey, const rt::Text& strRegKeyPath, const rt::Text& strRegSubKey,
                           const rt::Variant& varRegData);
  // Whether the latest regCreate_Key_Value stored its value: its set call ran and returned 0.
  // m_lngRetVal cannot tell, since the closing call overwrites it. A write that left through its
  // handler before the set, or that never ran, counts as not written.
  bool valueWritten() const { return valueWritten_; }

  // A string value read through WMI in the view of architecture `RegType` (32 or 64): its text,
  // or whatever the provider leaves when there is none (Null on Windows). Empty when the handler
  // leaves.
  rt::Variant ReadRegStr(const rt::Variant& RootKey, const rt::Variant& Key, const rt::Variant& Value,
                         const rt::Variant& RegType);

  const errors::Protocol& protocol() const { return protocol_; }

  // Status of the module's latest registry call.
  int32_t m_lngRetVal = 0;

 private:
  errors::Protocol protocol_;
  RegistryApi& api_;
  rt::Automation& automation_;
  bool valueWritten_ = false;
};

}  // namespace registry
