#include "registry/modRegistro.h"

#include <vector>

#include "errors/procedure.h"
#include "runtime/conversions.h"

namespace registry {

using errors::Body;
using errors::goTo;
using errors::If;
using errors::leave;
using errors::nextStatement;
using errors::Select;
using rt::nameValueList;
using rt::Variant;

modRegistro::modRegistro(errors::Protocol protocol, RegistryApi& api, rt::Automation& automation)
    : protocol_(protocol), api_(api), automation_(automation) {}

void modRegistro::SetModuleVariables() {
  protocol_.state.context.moduleVariables = nameValueList({{u"m_lngRetVal", m_lngRetVal}});
}

int16_t modRegistro::regDoes_Key_Exist(int32_t lngRootKey, const rt::Text& strRegKeyPath) {
  RegistryKey lngKeyHandle(api_);
  int16_t result = rt::kFalse;

  errors::Procedure procedure(
      protocol_, *this, u"regDoes_Key_Exist",
      [&] { return nameValueList({{u"lngRootKey", lngRootKey}, {u"strRegKeyPath", strRegKeyPath}}); },
      [&] { return nameValueList({{u"lngKeyHandle", lngKeyHandle.value()}}); });
  procedure.run(Body{
      {101, [&] { lngKeyHandle.reset(); }},
      {102, [&] { m_lngRetVal = api_.openKey(lngRootKey, strRegKeyPath, lngKeyHandle.put()); }},
      // The handle alone decides; the status of the open is not consulted.
      {103, If{[&] { return lngKeyHandle.get() == 0; }, nextStatement, goTo(106)}},
      {104, [&] { result = rt::kFalse; }, goTo(108)},
      {106, [&] { result = rt::kTrue; }},
      {108, [&] { m_lngRetVal = lngKeyHandle.close(); }},
  });
  return result;
}

bool modRegistro::keyExistsIn64BitView(int32_t lngRootKey, rt::TextView path) {
  try {
    RegistryKey key(api_);
    api_.openKeyIn64BitView(lngRootKey, path, key.put());
    return key.get() != 0;
  } catch (...) {
    return false;
  }
}

Variant modRegistro::regQuery_A_Key(int32_t lngRootKey, const rt::Text& strRegKeyPath,
                                    const rt::Text& strRegSubKey) {
  int16_t intPosition = 0;
  RegistryKey lngKeyHandle(api_);
  uint32_t lngDataType = 0;
  uint32_t lngBufferSize = 0;
  int32_t lngBuffer = 0;
  rt::Text strBuffer;
  Variant result;

  // The data query of a REG_SZ value: a buffer of lngBufferSize bytes, first filled with spaces,
  // read back whole as UTF-16.
  auto queryText = [&] {
    std::vector<uint8_t> bytes = rt::toUtf16Bytes(rt::Text(lngBufferSize, u' '));
    bytes.resize(lngBufferSize);
    uint32_t discardedType = 0;
    m_lngRetVal = api_.queryValue(lngKeyHandle.get(), strRegSubKey, discardedType, bytes.data(), lngBufferSize);
    strBuffer = rt::fromUtf16Bytes(bytes);
  };
  auto queryDword = [&] {
    uint8_t bytes[4] = {};
    uint32_t size = sizeof bytes;
    m_lngRetVal = api_.queryValue(lngKeyHandle.get(), strRegSubKey, lngDataType, bytes, size);
    lngBuffer = static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
  };

  errors::Procedure procedure(
      protocol_, *this, u"regQuery_A_Key",
      [&] {
        return nameValueList({{u"lngRootKey", lngRootKey},
                              {u"strRegKeyPath", strRegKeyPath},
                              {u"strRegSubKey", strRegSubKey}});
      },
      [&] {
        return nameValueList({{u"intPosition", intPosition},
                              {u"lngKeyHandle", lngKeyHandle.value()},
                              {u"lngDataType", static_cast<int32_t>(lngDataType)},
                              {u"lngBufferSize", static_cast<int32_t>(lngBufferSize)},
                              {u"lngBuffer", lngBuffer},
                              {u"strBuffer", strBuffer}});
      });
  procedure.run(Body{
      {106, [&] { lngKeyHandle.reset(); }},
      {107, [&] { lngBufferSize = 0; }},
      {108, [&] { m_lngRetVal = api_.openKey(lngRootKey, strRegKeyPath, lngKeyHandle.put()); }},
      {109, If{[&] { return lngKeyHandle.get() == 0; }, nextStatement, goTo(114)}},
      {110, [&] { result = u""; }},
      {111, [&] { m_lngRetVal = lngKeyHandle.close(); }},
      {112, [] {}, leave},
      // Type and size first, then the data in a buffer of that size.
      {114, [&] { m_lngRetVal = api_.queryValue(lngKeyHandle.get(), strRegSubKey, lngDataType, nullptr, lngBufferSize); }},
      {115, If{[&] { return m_lngRetVal != kErrorSuccess; }, nextStatement, goTo(120)}},
      {116, [&] { result = u""; }},
      {117, [&] { m_lngRetVal = lngKeyHandle.close(); }},
      {118, [] {}, leave},
      {120, Select{[&] { return lngDataType; }, {{kRegSz, goTo(122)}, {kRegDword, goTo(135)}}, goTo(142)}},
      // REG_SZ
      {122, [&] { strBuffer.assign(lngBufferSize, u' '); }},
      {123, queryText},
      {124, If{[&] { return m_lngRetVal != kErrorSuccess; }, nextStatement, goTo(127)}},
      {125, [&] { result = u""; }, goTo(144)},
      {127, [&] { intPosition = rt::toInteger(rt::findText(strBuffer, rt::TextView(u"\0", 1))); }},
      {128, If{[&] { return intPosition > 0; }, nextStatement, goTo(131)}},
      {129, [&] { result = strBuffer.substr(0, static_cast<size_t>(intPosition - 1)); }, goTo(144)},
      {131, [&] { result = strBuffer; }, goTo(144)},
      // REG_DWORD
      {135, queryDword},
      {136, If{[&] { return m_lngRetVal != kErrorSuccess; }, nextStatement, goTo(139)}},
      {137, [&] { result = u""; }, goTo(144)},
      {139, [&] { result = lngBuffer; }, goTo(144)},
      // any other type
      {142, [&] { result = u""; }},
      {144, [&] { m_lngRetVal = lngKeyHandle.close(); }},
  });
  return result;
}

void modRegistro::regCreate_Key_Value(int32_t lngRootKey, const rt::Text& strRegKeyPath,
                                      const rt::Text& strRegSubKey, const Variant& varRegData) {
  RegistryKey lngKeyHandle(api_);
  uint32_t lngDataType = 0;
  int32_t lngKeyValue = 0;
  rt::Text strKeyValue;
  valueWritten_ = false;

  errors::Procedure procedure(
      protocol_, *this, u"regCreate_Key_Value",
      [&] {
        return nameValueList({{u"lngRootKey", lngRootKey},
                              {u"strRegKeyPath", strRegKeyPath},
                              {u"strRegSubKey", strRegSubKey},
                              {u"varRegData", varRegData}});
      },
      [&] {
        return nameValueList({{u"lngKeyHandle", lngKeyHandle.value()},
                              {u"lngDataType", static_cast<int32_t>(lngDataType)},
                              {u"lngKeyValue", lngKeyValue},
                              {u"strKeyValue", strKeyValue}});
      });
  procedure.run(Body{
      {104, If{[&] { return rt::isNumeric(varRegData); }, nextStatement, goTo(107)}},
      {105, [&] { lngDataType = kRegDword; }, goTo(109)},
      {107, [&] { lngDataType = kRegSz; }},
      // A failed create leaves no key: the set and the close then fail without effect, and the
      // value counts as not written.
      {109, [&] { m_lngRetVal = api_.createKey(lngRootKey, strRegKeyPath, lngKeyHandle.put()); }},
      {110, Select{[&] { return lngDataType; }, {{kRegSz, goTo(112)}, {kRegDword, goTo(115)}}, goTo(118)}},
      // REG_SZ: the text without surrounding spaces and with its NUL, as UTF-16 bytes.
      {112, [&] { strKeyValue = rt::trimSpaces(rt::toText(varRegData)) + u'\0'; }},
      {113, [&] {
         const std::vector<uint8_t> bytes = rt::toUtf16Bytes(strKeyValue);
         m_lngRetVal = api_.setValue(lngKeyHandle.get(), strRegSubKey, kRegSz, bytes.data(),
                                     static_cast<uint32_t>(bytes.size()));
         valueWritten_ = m_lngRetVal == kErrorSuccess;
       }, goTo(118)},
      // REG_DWORD
      {115, [&] { lngKeyValue = rt::toLong(varRegData); }},
      {116, [&] {
         const auto v = static_cast<uint32_t>(lngKeyValue);
         const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                                   static_cast<uint8_t>(v >> 24)};
         m_lngRetVal = api_.setValue(lngKeyHandle.get(), strRegSubKey, kRegDword, bytes, sizeof bytes);
         valueWritten_ = m_lngRetVal == kErrorSuccess;
       }},
      {118, [&] { m_lngRetVal = lngKeyHandle.close(); }},
  });
}

Variant modRegistro::ReadRegStr(const Variant& RootKey, const Variant& Key, const Variant& Value,
                                const Variant& RegType) {
  Variant oCtx;
  Variant oLocator;
  Variant oReg;
  Variant oInParams;
  Variant oOutParams;
  Variant result;

  errors::Procedure procedure(
      protocol_, *this, u"ReadRegStr",
      [&] { return nameValueList({{u"RootKey", RootKey}, {u"Key", Key}, {u"Value", Value}, {u"RegType", RegType}}); },
      [&] {
        return nameValueList({{u"oCtx", oCtx},
                              {u"oLocator", oLocator},
                              {u"oReg", oReg},
                              {u"oInParams", oInParams},
                              {u"oOutParams", oOutParams}});
      });
  const auto omitted = rt::Argument::omitted();
  procedure.run(Body{
      {105, [&] { oCtx = automation_.createObject(u"WbemScripting.SWbemNamedValueSet"); }},
      {106, [&] { rt::objectOf(oCtx).call(u"Add", {u"__ProviderArchitecture", RegType}); }},
      {107, [&] { oLocator = automation_.createObject(u"Wbemscripting.SWbemLocator"); }},
      // The connection lives only for this statement.
      {108, [&] {
         const Variant connection = rt::objectOf(oLocator).call(
             u"ConnectServer", {u"", u"root\\default", u"", u"", omitted, omitted, omitted, oCtx});
         oReg = rt::objectOf(connection).call(u"Get", {u"StdRegProv"});
       }},
      {109, [&] {
         const Variant methods = rt::objectOf(oReg).get(u"Methods_");
         const Variant method = rt::objectOf(methods).call(u"Item", {u"GetStringValue"});
         oInParams = rt::objectOf(method).get(u"InParameters");
       }},
      {110, [&] { rt::objectOf(oInParams).put(u"hDefKey", RootKey); }},
      {111, [&] { rt::objectOf(oInParams).put(u"sSubKeyName", Key); }},
      {112, [&] { rt::objectOf(oInParams).put(u"sValueName", Value); }},
      {113, [&] { oOutParams = rt::objectOf(oReg).call(u"ExecMethod_", {u"GetStringValue", oInParams, omitted, oCtx}); }},
      // The method's own status is not examined: a missing value leaves sValue as it is.
      {114, [&] { result = rt::objectOf(oOutParams).get(u"sValue"); }},
  });
  return result;
}

}  // namespace registry
