// Tests of VBGuardReport.dll through COM, as the utility uses it: registered with regsvr32, created
// from its ProgIDs, driven late-bound. Run under Wine by CTest (report/tests/CMakeLists.txt).
//
//   report_test.exe                          the contract, the log, registration (machine)
//   report_test.exe --user-registration yes|no   whether regsvr32 /n /i:user left its keys
//   report_test.exe --interactive [folder]   the report window, answered by pressing its buttons;
//                                            with a folder, waits there for a screenshot
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <climits>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "../classes.h"
#include "../registration.h"
#include "fake_dialog.h"
#include "test_support.h"

using namespace vbgreport;
using namespace vbgreport::test;

namespace {

// ---- the failure the tests report ----------------------------------------------------------

constexpr DATE kFailureTime = 45000.5;   // 2023-03-15 12:00:00
constexpr DATE kGlobalTime = 45123.25;   // 2023-07-16 06:00:00
constexpr wchar_t kAppPath[] = L"C:\\Apps\\Patch";
constexpr wchar_t kAppTitle[] = L"PatchQUADRELL-Windows10";
const std::wstring kTrickyPath = L"C:\\Dati \"nuovi\"\n\u00e8\U0001F600";

unique_variant description() {
  std::vector<unique_variant> items;
  auto add = [&](const wchar_t* label, unique_variant value) {
    items.push_back(text(label));
    items.push_back(std::move(value));
  };
  add(L"Numero errore      ", longValue(13));
  add(L"Descrizione       ", text(L"Tipo non corrispondente"));
  add(L"Versione software ", text(L"1.0.0"));
  add(L"Build numero      ", text(L"50"));
  add(L"Nome Modulo       ", text(L"frmMain"));
  add(L"Nome procedura    ", text(L"cmdOk_Click"));
  add(L"Numero riga       ", longValue(120));
  add(L"Data e ora        ", dateValue(kFailureTime));
  return variantArray(std::move(items));
}

struct VariableLists {
  unique_variant parameters, locals, moduleVariables, globals;
};

// An installer value as long as the one that once pushed the report off the screen.
const std::wstring kLongValue = std::wstring(40000, L'x') + L"<end>";

VariableLists variableLists(IDispatch* someObject, bool withLongValue) {
  std::vector<std::pair<std::wstring, unique_variant>> parameters, locals, globals;
  parameters.emplace_back(L"sPath", text(kTrickyPath));
  parameters.emplace_back(L"nCount", shortValue(7));
  if (withLongValue) parameters.emplace_back(L"strValore", text(kLongValue));
  locals.emplace_back(L"lngRet", longValue(-5));
  locals.emplace_back(L"vEmpty", emptyValue());
  locals.emplace_back(L"vNull", nullValue());
  locals.emplace_back(L"objX", objectValue(nullptr));
  locals.emplace_back(L"arrNames", textArray({L"a", L"b"}));
  locals.emplace_back(L"arrNever", unallocatedTextArray());
  globals.emplace_back(L"gDialog", objectValue(someObject));
  globals.emplace_back(L"gFlag", boolValue(true));
  globals.emplace_back(L"gRatio", doubleValue(2.5));
  globals.emplace_back(L"gWhen", dateValue(kGlobalTime));
  std::vector<unique_variant> nothing;
  nothing.push_back(text(L"Empty"));
  return {pairs(std::move(parameters)), pairs(std::move(locals)), variantArray(std::move(nothing)),
          pairs(std::move(globals))};
}

// The calls the utility makes for one failure, in its order. `dialog` replaces the component's
// own dialog object when given.
LONG reportFailure(IDispatch* dialog = nullptr, bool withLongValue = false) {
  const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
  {
    com_ptr<IDispatch> ownDialog;
    if (!dialog) ownDialog = createFromProgId(kDialogProgId);
    put(report.get(), L"CustomDialog", objectValue(dialog ? dialog : ownDialog.get()), DISPATCH_PROPERTYPUTREF);
  }  // the utility keeps no reference to the dialog
  put(report.get(), L"ErrDescription", description());
  put(report.get(), L"AppPath", text(kAppPath));
  put(report.get(), L"AppTitle", text(kAppTitle));
  put(report.get(), L"UserData",
      variantArray([] {
        std::vector<unique_variant> user;
        for (const wchar_t* item : {L"Family", L"support@example.invalid", L"Developer", L"Maker"}) user.push_back(text(item));
        return user;
      }()));

  const com_ptr<FakeDialog> listed = FakeDialog::create(0);
  VariableLists lists = variableLists(listed.get(), withLongValue);
  const Outcome set = invoke(report.get(), L"SetVariables", DISPATCH_METHOD,
                             {byRef(lists.parameters), byRef(lists.locals), byRef(lists.moduleVariables), byRef(lists.globals)});
  if (FAILED(set.code)) throw Failure(set.code, L"SetVariables");

  Outcome answer = invoke(report.get(), L"ReportError", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
  if (FAILED(answer.code)) throw Failure(answer.code, L"ReportError");
  unique_variant number;
  check(VariantChangeType(number.put(), const_cast<VARIANT*>(answer.result.get()), 0, VT_I4));
  return V_I4(number.get());
}

// ---- the call log --------------------------------------------------------------------------

std::wstring logPath;

std::vector<std::string> logLines() {
  const unique_hfile file(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::vector<std::string> lines;
  if (!file) return lines;
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
  size_t start = 0;
  for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(content.substr(start, end - start));
  if (start < content.size()) lines.push_back(content.substr(start) + "  <- no line end");
  return lines;
}

// What follows "instance":n, in a logged line.
std::string afterInstance(const std::string& line) {
  const size_t member = line.find(",\"member\"");
  return member == std::string::npos ? line : line.substr(member + 1);
}

void startLog() {
  DeleteFileW(logPath.c_str());
  SetEnvironmentVariableW(L"VBGUARD_REPORT_LOG", logPath.c_str());
}

// ---- registry ------------------------------------------------------------------------------

std::wstring guidText(const GUID& id) {
  wchar_t buffer[40];
  StringFromGUID2(id, buffer, 40);
  return buffer;
}

std::optional<std::wstring> registryText(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t value[1024];
  DWORD size = sizeof value;
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return std::nullopt;
  return std::wstring(value);
}

std::wstring modulePathOfServer() {
  wchar_t path[MAX_PATH];
  const HMODULE server = GetModuleHandleW(L"VBGuardReport.dll");
  if (!server || !GetModuleFileNameW(server, path, MAX_PATH)) return {};
  return path;
}

struct ExpectedKey {
  std::wstring path;
  const wchar_t* name;
  std::wstring value;  // empty: the key must not exist
};

std::vector<ExpectedKey> classKeys(const std::wstring& serverPath) {
  const std::wstring report = L"CLSID\\" + guidText(kReportClassId);
  const std::wstring dialog = L"CLSID\\" + guidText(kDialogClassId);
  return {
      {report + L"\\InprocServer32", nullptr, serverPath},
      {report + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {report + L"\\ProgID", nullptr, kReportProgId},
      {std::wstring(kReportProgId) + L"\\CLSID", nullptr, guidText(kReportClassId)},
      {dialog + L"\\InprocServer32", nullptr, serverPath},
      {dialog + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {dialog + L"\\ProgID", nullptr, kDialogProgId},
      {std::wstring(kDialogProgId) + L"\\CLSID", nullptr, guidText(kDialogClassId)},
  };
}

// present: every key holds its value; otherwise none of the keys exists.
void expectClassKeys(HKEY root, bool present, const std::string& where) {
  const std::wstring prefix = L"Software\\Classes\\";
  for (const ExpectedKey& key : classKeys(modulePathOfServer())) {
    const std::optional<std::wstring> value = registryText(root, prefix + key.path, key.name);
    std::string row = where + " [" + narrow(key.path);
    if (key.name) row.append(" ").append(narrow(key.name));
    row += ']';
    if (!present) {
      HKEY opened = nullptr;
      const LSTATUS status = RegOpenKeyExW(root, (prefix + key.path).c_str(), 0, KEY_READ, &opened);
      const unique_hkey owner(opened);
      expect(status == ERROR_FILE_NOT_FOUND, row, "key still present");
    } else if (!value) {
      fail(row, "missing");
    } else if (key.name == nullptr && key.path.ends_with(L"InprocServer32")) {
      expect(CompareStringOrdinal(value->c_str(), -1, key.value.c_str(), -1, TRUE) == CSTR_EQUAL, row,
             "server path " + narrow(*value) + ", loaded from " + narrow(key.value));
    } else {
      expectText(*value, key.value, row);
    }
  }
}

template <class Function>
Function serverExport(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"VBGuardReport.dll"), name)));
}

// ---- the tests -----------------------------------------------------------------------------

void classesAreRegisteredForTheMachine() {
  // Loads the server, so that its path is known.
  createFromProgId(kReportProgId);
  expect(!modulePathOfServer().empty(), "server", "VBGuardReport.dll not loaded by CoCreateInstance");
  expectClassKeys(HKEY_LOCAL_MACHINE, true, "HKLM");
  const struct {
    const wchar_t* progId;
    const CLSID& classId;
  } rows[] = {{kReportProgId, kReportClassId}, {kDialogProgId, kDialogClassId}};
  for (const auto& row : rows) {
    CLSID found{};
    const std::string where = test::row(narrow(row.progId));
    expectCode(CLSIDFromProgID(row.progId, &found), S_OK, where);
    expect(found == row.classId, where, "resolves to " + narrow(guidText(found)));
  }
}

std::vector<std::string> expectedFailureLines(int instance, int answer) {
  const std::string n = std::to_string(instance);
  return {
      R"({"instance":)" + n + R"(,"member":"CustomDialog","kind":"putref","args":[{"vt":"VT_DISPATCH","value":"myVBGDialog.myCustomDialog"}]})",
      R"({"instance":)" + n + R"(,"member":"ErrDescription","kind":"put","args":[{"vt":"VT_ARRAY|VT_VARIANT","value":[)"
          R"({"vt":"VT_BSTR","value":"Numero errore      "},{"vt":"VT_I4","value":13},)"
          R"({"vt":"VT_BSTR","value":"Descrizione       "},{"vt":"VT_BSTR","value":"Tipo non corrispondente"},)"
          R"({"vt":"VT_BSTR","value":"Versione software "},{"vt":"VT_BSTR","value":"1.0.0"},)"
          R"({"vt":"VT_BSTR","value":"Build numero      "},{"vt":"VT_BSTR","value":"50"},)"
          R"({"vt":"VT_BSTR","value":"Nome Modulo       "},{"vt":"VT_BSTR","value":"frmMain"},)"
          R"({"vt":"VT_BSTR","value":"Nome procedura    "},{"vt":"VT_BSTR","value":"cmdOk_Click"},)"
          R"({"vt":"VT_BSTR","value":"Numero riga       "},{"vt":"VT_I4","value":120},)"
          R"({"vt":"VT_BSTR","value":"Data e ora        "},{"vt":"VT_DATE","value":45000.5,"text":"2023-03-15 12:00:00"}],)"
          R"("bounds":[[0,15]]}]})",
      R"({"instance":)" + n + R"(,"member":"AppPath","kind":"put","args":[{"vt":"VT_BSTR","value":"C:\\Apps\\Patch"}]})",
      R"({"instance":)" + n + R"(,"member":"AppTitle","kind":"put","args":[{"vt":"VT_BSTR","value":"PatchQUADRELL-Windows10"}]})",
      R"({"instance":)" + n + R"(,"member":"UserData","kind":"put","args":[{"vt":"VT_ARRAY|VT_VARIANT","value":[)"
          R"({"vt":"VT_BSTR","value":"Family"},{"vt":"VT_BSTR","value":"support@example.invalid"},)"
          R"({"vt":"VT_BSTR","value":"Developer"},{"vt":"VT_BSTR","value":"Maker"}],"bounds":[[0,3]]}]})",
      R"({"instance":)" + n + R"(,"member":"SetVariables","kind":"method","args":[)"
          R"({"vt":"VT_BYREF|VT_VARIANT","value":{"vt":"VT_ARRAY|VT_VARIANT","value":[)"
          R"({"vt":"VT_BSTR","value":"sPath"},{"vt":"VT_BSTR","value":"C:\\Dati \"nuovi\"\n)" "\xC3\xA8\xF0\x9F\x98\x80" R"("},)"
          R"({"vt":"VT_BSTR","value":"nCount"},{"vt":"VT_I2","value":7}],"bounds":[[0,3]]}},)"
          R"({"vt":"VT_BYREF|VT_VARIANT","value":{"vt":"VT_ARRAY|VT_VARIANT","value":[)"
          R"({"vt":"VT_BSTR","value":"lngRet"},{"vt":"VT_I4","value":-5},)"
          R"({"vt":"VT_BSTR","value":"vEmpty"},{"vt":"VT_EMPTY","value":null},)"
          R"({"vt":"VT_BSTR","value":"vNull"},{"vt":"VT_NULL","value":null},)"
          R"({"vt":"VT_BSTR","value":"objX"},{"vt":"VT_DISPATCH","value":"null"},)"
          R"({"vt":"VT_BSTR","value":"arrNames"},{"vt":"VT_ARRAY|VT_BSTR","value":[{"vt":"VT_BSTR","value":"a"},{"vt":"VT_BSTR","value":"b"}],"bounds":[[0,1]]},)"
          R"({"vt":"VT_BSTR","value":"arrNever"},{"vt":"VT_ARRAY|VT_BSTR","value":null,"allocated":false}],"bounds":[[0,11]]}},)"
          R"({"vt":"VT_BYREF|VT_VARIANT","value":{"vt":"VT_ARRAY|VT_VARIANT","value":[{"vt":"VT_BSTR","value":"Empty"}],"bounds":[[0,0]]}},)"
          R"({"vt":"VT_BYREF|VT_VARIANT","value":{"vt":"VT_ARRAY|VT_VARIANT","value":[)"
          R"({"vt":"VT_BSTR","value":"gDialog"},{"vt":"VT_DISPATCH","value":"object"},)"
          R"({"vt":"VT_BSTR","value":"gFlag"},{"vt":"VT_BOOL","value":true},)"
          R"({"vt":"VT_BSTR","value":"gRatio"},{"vt":"VT_R8","value":2.5},)"
          R"({"vt":"VT_BSTR","value":"gWhen"},{"vt":"VT_DATE","value":45123.25,"text":"2023-07-16 06:00:00"}],"bounds":[[0,7]]}}]})",
      R"({"instance":)" + n + R"(,"member":"ReportError","kind":"method","args":[],"result":{"vt":"VT_I4","value":)" +
          std::to_string(answer) + "}}",
  };
}

// Must run first: scripted answers and report numbers count from the start of the process.
void scriptedAnswersRunAcrossReportsAndTheLogRecordsEveryCall() {
  startLog();
  SetEnvironmentVariableW(L"VBGUARD_REPORT_ANSWERS", L"4,5");
  const int answers[] = {4, 5, 0, 0};
  for (int i = 0; i < 4; ++i)
    expect(reportFailure() == answers[i], "[report " + std::to_string(i + 1) + "]", "wrong answer");

  const std::vector<std::string> lines = logLines();
  expect(lines.size() == 4 * 7, "log", std::to_string(lines.size()) + " lines, expected 28");
  for (int report = 0; report < 4; ++report) {
    const std::vector<std::string> expected = expectedFailureLines(report + 1, answers[report]);
    for (size_t call = 0; call < expected.size(); ++call) {
      const size_t index = report * expected.size() + call;
      expectText(index < lines.size() ? lines[index] : "(missing)", expected[call],
                 "[report " + std::to_string(report + 1) + " line " + std::to_string(call + 1) + "]");
    }
  }
}

unique_variant twoByThree() {
  SAFEARRAYBOUND bounds[] = {{2, 0}, {3, 1}};  // (0 To 1, 1 To 3)
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  unique_variant owner = made(VT_ARRAY | VT_VARIANT, [&](VARIANT* v) { V_ARRAY(v) = array; });
  for (LONG row = 0; row <= 1; ++row)
    for (LONG column = 1; column <= 3; ++column) {
      LONG indices[] = {row, column};
      unique_variant value = longValue(row * 10 + column);
      check(SafeArrayPutElement(array, indices, const_cast<VARIANT*>(value.get())));
    }
  return owner;
}

void everyValueIsLoggedWithItsType() {
  const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
  const com_ptr<IDispatch> ownDialog = createFromProgId(kDialogProgId);
  const com_ptr<FakeDialog> foreign = FakeDialog::create(0);
  const std::wstring oddText(L"a\0b\t\x01\xD800z", 7);

  struct Row {
    const char* name;
    std::function<unique_variant()> value;
    std::string json;
  };
  const Row rows[] = {
      {"short", [] { return shortValue(-7); }, R"({"vt":"VT_I2","value":-7})"},
      {"long", [] { return longValue(2147483647); }, R"({"vt":"VT_I4","value":2147483647})"},
      {"double", [] { return doubleValue(0.1); }, R"({"vt":"VT_R8","value":0.1})"},
      {"large double", [] { return doubleValue(1e300); }, R"({"vt":"VT_R8","value":1e+300})"},
      {"currency", [] { return currencyValue(123400); }, R"({"vt":"VT_CY","value":12.34})"},
      {"false", [] { return boolValue(false); }, R"({"vt":"VT_BOOL","value":false})"},
      {"error value", [] { return errorValue(DISP_E_PARAMNOTFOUND); }, R"({"vt":"VT_ERROR","value":-2147352572})"},
      {"empty text", [] { return text(L""); }, R"({"vt":"VT_BSTR","value":""})"},
      {"control characters and a lone surrogate", [&] { return text(oddText); },
       R"({"vt":"VT_BSTR","value":"a\u0000b\t\u0001\ud800z"})"},
      {"date at day zero", [] { return dateValue(0); }, R"({"vt":"VT_DATE","value":0,"text":"1899-12-30 00:00:00"})"},
      {"Null", [] { return nullValue(); }, R"({"vt":"VT_NULL","value":null})"},
      {"Empty", [] { return emptyValue(); }, R"({"vt":"VT_EMPTY","value":null})"},
      {"Nothing", [] { return objectValue(nullptr); }, R"({"vt":"VT_DISPATCH","value":"null"})"},
      {"own dialog", [&] { return objectValue(ownDialog.get()); },
       R"({"vt":"VT_DISPATCH","value":"myVBGDialog.myCustomDialog"})"},
      {"other object", [&] { return objectValue(foreign.get()); }, R"({"vt":"VT_DISPATCH","value":"object"})"},
      {"array from 1", [] {
         std::vector<unique_variant> one;
         one.push_back(longValue(1));
         return variantArray(std::move(one), 1);
       }, R"({"vt":"VT_ARRAY|VT_VARIANT","value":[{"vt":"VT_I4","value":1}],"bounds":[[1,1]]})"},
      {"array with no elements", [] { return variantArray({}); },
       R"({"vt":"VT_ARRAY|VT_VARIANT","value":[],"bounds":[[0,-1]]})"},
      {"two dimensions", [] { return twoByThree(); },
       R"({"vt":"VT_ARRAY|VT_VARIANT","value":[[{"vt":"VT_I4","value":1},{"vt":"VT_I4","value":2},{"vt":"VT_I4","value":3}],)"
       R"([{"vt":"VT_I4","value":11},{"vt":"VT_I4","value":12},{"vt":"VT_I4","value":13}]],"bounds":[[0,1],[1,3]]})"},
  };

  startLog();
  for (const Row& row : rows) {
    std::vector<unique_variant> holder;
    holder.push_back(row.value());
    put(report.get(), L"UserData", variantArray(std::move(holder)));
    const std::vector<std::string> lines = logLines();
    expectText(lines.empty() ? "(no line)" : afterInstance(lines.back()),
               R"("member":"UserData","kind":"put","args":[{"vt":"VT_ARRAY|VT_VARIANT","value":[)" + row.json +
                   R"(],"bounds":[[0,0]]}]})",
               test::row(row.name));
  }

  // A reference to a value that is not a variant is logged as the value it refers to.
  LONG referenced = 42;
  VARIANT reference;
  VariantInit(&reference);
  V_VT(&reference) = VT_BYREF | VT_I4;
  V_I4REF(&reference) = &referenced;
  expectCode(invoke(report.get(), L"AppTitle", DISPATCH_PROPERTYPUT, {reference}).code, S_OK, "[by-reference long]");
  const std::vector<std::string> lines = logLines();
  expectText(lines.empty() ? "(no line)" : afterInstance(lines.back()),
             R"("member":"AppTitle","kind":"put","args":[{"vt":"VT_BYREF|VT_I4","value":42}]})", "[by-reference long]");
}

void theReportShownListsEverythingTheUtilityPassed() {
  const com_ptr<FakeDialog> dialog = FakeDialog::create(5);
  expect(reportFailure(dialog.get()) == 5, "answer", "the dialog's answer was not returned");
  expect(dialog->timesShown == 1, "shown", std::to_string(dialog->timesShown) + " times");
  expectText(dialog->shownCaption, L"PatchQUADRELL-Windows10 - Segnalazione errore", "[caption]");

  // Dates are written in the user's format; the tests run with English (United States).
  const wchar_t* parts[] = {
      L"Si \u00e8 verificato un errore in PatchQUADRELL-Windows10.\n\n"
      L"Numero errore: 13\nDescrizione: Tipo non corrispondente\nVersione software: 1.0.0\nBuild numero: 50\n"
      L"Nome Modulo: frmMain\nNome procedura: cmdOk_Click\nNumero riga: 120\nData e ora: 3/15/2023 12:00:00 PM\n",
      L"\nApplicazione: PatchQUADRELL-Windows10\nPercorso: C:\\Apps\\Patch\n"
      L"Famiglia: Family\nAssistenza: support@example.invalid\nSviluppatore: Developer\nProduttore: Maker\n",
      L"\nParametri:\n    sPath = \"C:\\Dati \"\"nuovi\"\"\n\u00e8\U0001F600\"\n    nCount = 7\n",
      L"\nVariabili locali:\n    lngRet = -5\n    vEmpty = Empty\n    vNull = Null\n    objX = Nothing\n"
      L"    arrNames = [\"a\", \"b\"]\n    arrNever = (non allocato)\n",
      L"\nVariabili del modulo:\n    Empty\n",
      L"\nVariabili globali:\n    gDialog = <Object>\n    gFlag = True\n    gRatio = 2.5\n    gWhen = 7/16/2023 6:00:00 AM\n",
      L"Interrompi: passa l'errore alla routine chiamante.\nRiprova: esegue di nuovo l'istruzione.\n"
      L"Ignora: salta l'istruzione e prosegue.",
  };
  for (size_t i = 0; i < std::size(parts); ++i)
    expect(dialog->shownText.find(parts[i]) != std::wstring::npos, "[part " + std::to_string(i + 1) + "]",
           "not in the report:\n" + narrow(parts[i]) + "\n---- report ----\n" + narrow(dialog->shownText));
}

void callsOutsideTheContractGetTheDispatchError() {
  const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
  const com_ptr<FakeDialog> dialog = FakeDialog::create(4);
  unique_variant list = variantArray({});
  unique_variant number = longValue(1);
  const unique_variant title = text(kAppTitle), nullText = nullValue(), array = variantArray({});
  const unique_variant strings = textArray({L"x"}), object = objectValue(dialog.get());
  const IID someInterface = IID_IUnknown;
  const DISPID unknownId = 99;

  struct Row {
    const char* name;
    const wchar_t* member;
    WORD flags;
    std::vector<VARIANT> arguments;
    CallOptions options;
    HRESULT expected;
    UINT argumentError = ~0u;
  };
  const Row rows[] = {
      {"put of a text", L"AppTitle", DISPATCH_PROPERTYPUT, {*title.get()}, {}, S_OK},
      {"put of an object by value", L"CustomDialog", DISPATCH_PROPERTYPUT, {*object.get()}, {}, S_OK},
      {"put of an object by reference", L"CustomDialog", DISPATCH_PROPERTYPUTREF, {*object.get()}, {}, S_OK},
      {"put of a String() array", L"UserData", DISPATCH_PROPERTYPUT, {*strings.get()}, {}, S_OK},
      {"method called as a property read too", L"ReportError", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK},
      {"property read as a method too", L"AppTitle", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK},
      {"text for an array property", L"ErrDescription", DISPATCH_PROPERTYPUT, {*title.get()}, {}, DISP_E_TYPEMISMATCH, 0},
      {"Null for a text property", L"AppPath", DISPATCH_PROPERTYPUT, {*nullText.get()}, {}, DISP_E_TYPEMISMATCH, 0},
      {"text for the dialog", L"CustomDialog", DISPATCH_PROPERTYPUTREF, {*title.get()}, {}, DISP_E_TYPEMISMATCH, 0},
      {"value property set by reference", L"AppTitle", DISPATCH_PROPERTYPUTREF, {*title.get()}, {}, DISP_E_MEMBERNOTFOUND},
      {"put without DISPID_PROPERTYPUT", L"AppTitle", DISPATCH_PROPERTYPUT, {*title.get()}, {false, {}}, DISP_E_PARAMNOTFOUND},
      {"put of two values", L"AppTitle", DISPATCH_PROPERTYPUT, {*title.get(), *title.get()}, {}, DISP_E_BADPARAMCOUNT},
      {"property read with an argument", L"AppTitle", DISPATCH_PROPERTYGET, {*title.get()}, {}, DISP_E_BADPARAMCOUNT},
      {"property called as a method", L"AppTitle", DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND},
      {"method read as a property", L"ReportError", DISPATCH_PROPERTYGET, {}, {}, DISP_E_MEMBERNOTFOUND},
      {"method set as a property", L"ReportError", DISPATCH_PROPERTYPUT, {*number.get()}, {}, DISP_E_MEMBERNOTFOUND},
      {"method with a named argument", L"ReportError", DISPATCH_METHOD, {*number.get()}, {true, {0}}, DISP_E_NONAMEDARGS},
      {"three lists", L"SetVariables", DISPATCH_METHOD, {byRef(list), byRef(list), byRef(list)}, {}, DISP_E_BADPARAMCOUNT},
      {"third list not an array", L"SetVariables", DISPATCH_METHOD, {byRef(list), byRef(list), byRef(number), byRef(list)},
       {}, DISP_E_TYPEMISMATCH, 1},
      {"lists passed by value", L"SetVariables", DISPATCH_METHOD, {*array.get(), *array.get(), *array.get(), *array.get()}, {}, S_OK},
      {"an interface other than IID_NULL", L"AppTitle", DISPATCH_PROPERTYGET, {}, {true, {}, someInterface},
       DISP_E_UNKNOWNINTERFACE},
  };
  for (const Row& row : rows) {
    const Outcome outcome = invoke(report.get(), row.member, row.flags, row.arguments, row.options);
    expectCode(outcome.code, row.expected, test::row(row.name));
    if (row.argumentError != ~0u)
      expect(outcome.argumentError == row.argumentError, test::row(row.name),
             "argument error " + std::to_string(outcome.argumentError) + ", expected " + std::to_string(row.argumentError));
  }
  expectCode(invokeId(report.get(), unknownId, DISPATCH_METHOD, {}).code, DISP_E_MEMBERNOTFOUND, "[unknown DISPID]");

  struct NameRow {
    const char* name;
    std::vector<const wchar_t*> names;
    HRESULT expected;
  };
  const NameRow nameRows[] = {
      {"unknown member", {L"ReportErrors"}, DISP_E_UNKNOWNNAME},
      {"other case", {L"reporterror"}, S_OK},
      {"named parameter", {L"SetVariables", L"Params"}, DISP_E_UNKNOWNNAME},
  };
  for (const NameRow& row : nameRows) {
    std::vector<DISPID> ids(row.names.size(), 12345);
    const HRESULT hr = report->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(row.names.data()),
                                             static_cast<UINT>(row.names.size()), LOCALE_USER_DEFAULT, ids.data());
    expectCode(hr, row.expected, test::row(row.name));
    if (row.expected == S_OK) expect(ids[0] == idOf(report.get(), L"ReportError"), row.name, "different DISPID");
    if (row.names.size() > 1) expect(ids[1] == DISPID_UNKNOWN, row.name, "parameter name given a DISPID");
  }

  UINT typeInfoCount = 99;
  expectCode(report->GetTypeInfoCount(&typeInfoCount), S_OK, "[GetTypeInfoCount]");
  expect(typeInfoCount == 0, "[GetTypeInfoCount]", "claims type information");
}

void propertiesReadBackAndTheReadIsLogged() {
  const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
  const com_ptr<IDispatch> dialog = createFromProgId(kDialogProgId);
  put(report.get(), L"AppTitle", text(kAppTitle));
  put(report.get(), L"CustomDialog", objectValue(dialog.get()), DISPATCH_PROPERTYPUTREF);

  startLog();
  const Outcome title = invoke(report.get(), L"AppTitle", DISPATCH_PROPERTYGET, {});
  expect(V_VT(title.result.get()) == VT_BSTR && std::wstring_view(V_BSTR(title.result.get())) == kAppTitle, "[AppTitle]",
         "not the title put");
  const Outcome held = invoke(report.get(), L"CustomDialog", DISPATCH_PROPERTYGET, {});
  expect(V_VT(held.result.get()) == VT_DISPATCH && V_DISPATCH(held.result.get()) == dialog.get(), "[CustomDialog]",
         "not the dialog put");
  const Outcome missing = invoke(report.get(), L"AppPath", DISPATCH_PROPERTYGET, {});
  expect(V_VT(missing.result.get()) == VT_EMPTY, "[AppPath never put]", "not Empty");

  const std::vector<std::string> lines = logLines();
  const std::string expected[] = {
      R"("member":"AppTitle","kind":"get","args":[],"result":{"vt":"VT_BSTR","value":"PatchQUADRELL-Windows10"}})",
      R"("member":"CustomDialog","kind":"get","args":[],"result":{"vt":"VT_DISPATCH","value":"myVBGDialog.myCustomDialog"}})",
      R"("member":"AppPath","kind":"get","args":[]})",
  };
  for (size_t i = 0; i < std::size(expected); ++i)
    expectText(i < lines.size() ? afterInstance(lines[i]) : "(missing)", expected[i], "[log line " + std::to_string(i + 1) + "]");

  // A refused call is logged with its error.
  invoke(report.get(), L"ErrDescription", DISPATCH_PROPERTYPUT, {*title.result.get()});
  const std::vector<std::string> after = logLines();
  expectText(after.empty() ? "(missing)" : afterInstance(after.back()),
             R"("member":"ErrDescription","kind":"put","args":[{"vt":"VT_BSTR","value":"PatchQUADRELL-Windows10"}],"error":"0x80020005"})",
             "[refused put]");
}

void aDialogThatCannotShowTheReportFailsReportError() {
  const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
  const com_ptr<FakeDialog> mute = FakeDialog::create(4, false);
  put(report.get(), L"CustomDialog", objectValue(mute.get()), DISPATCH_PROPERTYPUTREF);
  const Outcome outcome = invoke(report.get(), L"ReportError", DISPATCH_METHOD, {});
  expectCode(outcome.code, DISP_E_EXCEPTION, "[outcome]");
  expectCode(outcome.exceptionCode, DISP_E_UNKNOWNNAME, "[exception code]");
  expectText(outcome.exceptionSource, kReportProgId, "[exception source]");
}

void theServerUnloadsOnlyWhenNothingIsInUse() {
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  const CanUnload canUnloadNow = serverExport<CanUnload>("DllCanUnloadNow");
  if (!canUnloadNow) return fail("DllCanUnloadNow", "not exported");

  expectCode(canUnloadNow(), S_OK, "[nothing alive]");
  {
    const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
    expectCode(canUnloadNow(), S_FALSE, "[a report alive]");
  }
  expectCode(canUnloadNow(), S_OK, "[report released]");

  com_ptr<IClassFactory> factory;
  check(CoGetClassObject(kDialogClassId, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()));
  expectCode(canUnloadNow(), S_FALSE, "[a class object alive]");
  check(factory->LockServer(TRUE));
  factory.reset();
  expectCode(canUnloadNow(), S_FALSE, "[server locked]");
  check(CoGetClassObject(kDialogClassId, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()));
  check(factory->LockServer(FALSE));
  factory.reset();
  expectCode(canUnloadNow(), S_OK, "[lock released]");
}

void unregistrationRemovesTheMachineKeysAndRegistrationRestoresThem() {
  using Register = HRESULT(STDAPICALLTYPE*)();
  const Register registerServer = serverExport<Register>("DllRegisterServer");
  const Register unregisterServer = serverExport<Register>("DllUnregisterServer");
  if (!registerServer || !unregisterServer) return fail("exports", "DllRegisterServer or DllUnregisterServer missing");

  expectCode(unregisterServer(), S_OK, "[unregister]");
  expectClassKeys(HKEY_LOCAL_MACHINE, false, "after unregister");
  CLSID found{};
  expect(FAILED(CLSIDFromProgID(kReportProgId, &found)), "[ProgID after unregister]", "still resolves");
  expectCode(unregisterServer(), S_OK, "[unregister twice]");

  expectCode(registerServer(), S_OK, "[register]");
  expectClassKeys(HKEY_LOCAL_MACHINE, true, "after register");
}

void userInstallationUsesTheUsersClassesOnly() {
  using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
  const Install install = serverExport<Install>("DllInstall");
  if (!install) return fail("DllInstall", "not exported");

  expectCode(install(TRUE, L"user"), S_OK, "[install user]");
  expectClassKeys(HKEY_CURRENT_USER, true, "HKCU after install");
  expectClassKeys(HKEY_LOCAL_MACHINE, true, "HKLM after user install");
  expectCode(install(FALSE, L"user"), S_OK, "[uninstall user]");
  expectClassKeys(HKEY_CURRENT_USER, false, "HKCU after uninstall");
  expectClassKeys(HKEY_LOCAL_MACHINE, true, "HKLM after user uninstall");
  expectCode(install(TRUE, L"everyone"), E_INVALIDARG, "[unknown scope]");

  // A ProgID another component has taken over since stays with that component.
  const std::wstring progIdClass = std::wstring(L"Software\\Classes\\") + kDialogProgId + L"\\CLSID";
  const wchar_t otherClass[] = L"{00000000-0000-0000-0000-000000000001}";
  expectCode(install(TRUE, L"user"), S_OK, "[install user again]");
  RegSetKeyValueW(HKEY_CURRENT_USER, progIdClass.c_str(), nullptr, REG_SZ, otherClass, sizeof otherClass);
  expectCode(install(FALSE, L"user"), S_OK, "[uninstall user again]");
  expectText(registryText(HKEY_CURRENT_USER, progIdClass).value_or(L"(gone)"), otherClass, "[ProgID of another class]");

  // A ProgID another component held before the installation is that component's again after it.
  expectCode(install(TRUE, L"user"), S_OK, "[install over another component]");
  expectText(registryText(HKEY_CURRENT_USER, progIdClass).value_or(L"(gone)"), classIdText(kDialogClassId),
             "[ProgID taken over]");
  expectCode(install(FALSE, L"user"), S_OK, "[uninstall over another component]");
  expectText(registryText(HKEY_CURRENT_USER, progIdClass).value_or(L"(gone)"), otherClass, "[ProgID given back]");
  expect(!registryText(HKEY_CURRENT_USER, std::wstring(L"Software\\Classes\\") + kDialogProgId,
                       L"VBGuardReport.ReplacedCLSID"),
         "[ProgID given back]", "the replaced class is still kept");
  RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Classes\\") + kDialogProgId).c_str());
}

// ---- values that lie about themselves ------------------------------------------------------

// A SAFEARRAY descriptor of the test's own, copied from a real array and then altered; the real
// array keeps the elements and frees them. The element type hidden before a descriptor is copied
// too, where oleaut32 looks for it.
struct ForgedArray {
  DWORD padding[3] = {};
  DWORD hiddenType = 0;
  SAFEARRAY descriptor{};
};
static_assert(offsetof(ForgedArray, descriptor) == offsetof(ForgedArray, hiddenType) + sizeof(DWORD),
              "the hidden type must sit right before the descriptor");

// One hostile argument and what keeps it alive; `passed` is what the call receives.
struct Hostile {
  VARIANT passed{};
  std::vector<unique_variant> owners;
  std::unique_ptr<ForgedArray> forged;
  std::unique_ptr<VARIANT> referred;
  std::function<void()> undo;  // makes the owners safe to free again
  Hostile() { VariantInit(&passed); }
  Hostile(Hostile&& other) noexcept
      : passed(other.passed), owners(std::move(other.owners)), forged(std::move(other.forged)),
        referred(std::move(other.referred)), undo(std::exchange(other.undo, nullptr)) {}
  Hostile& operator=(Hostile&&) = delete;
  ~Hostile() {
    if (undo) undo();
  }
};

unique_variant longsArray(ULONG count) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, count);
  if (!array) throw Failure(E_OUTOFMEMORY);
  unique_variant owner = made(VT_ARRAY | VT_VARIANT, [&](VARIANT* v) { V_ARRAY(v) = array; });
  VARIANT* elements = static_cast<VARIANT*>(array->pvData);
  for (ULONG i = 0; i < count; ++i) {
    V_VT(&elements[i]) = VT_I4;
    V_I4(&elements[i]) = static_cast<LONG>(i);
  }
  return owner;
}

// `change` alters a copy of `real`'s descriptor; the argument is labelled `label`.
Hostile forgedArray(unique_variant real, VARTYPE label, const std::function<void(SAFEARRAY&)>& change) {
  Hostile hostile;
  SAFEARRAY* original = V_ARRAY(real.get());
  hostile.forged = std::make_unique<ForgedArray>();
  hostile.forged->hiddenType = reinterpret_cast<const DWORD*>(original)[-1];
  hostile.forged->descriptor = *original;
  change(hostile.forged->descriptor);
  V_VT(&hostile.passed) = label;
  V_ARRAY(&hostile.passed) = &hostile.forged->descriptor;
  hostile.owners.push_back(std::move(real));
  return hostile;
}

Hostile plain(unique_variant value) {
  Hostile hostile;
  hostile.passed = *value.get();
  hostile.owners.push_back(std::move(value));
  return hostile;
}

Hostile withType(VARTYPE type) {
  Hostile hostile;
  V_VT(&hostile.passed) = type;
  return hostile;
}

Hostile arrayOfDimensions(UINT dimensions) {
  std::vector<SAFEARRAYBOUND> bounds(dimensions, SAFEARRAYBOUND{2, 0});
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, dimensions, bounds.data());
  if (!array) throw Failure(E_OUTOFMEMORY);
  return plain(made(VT_ARRAY | VT_VARIANT, [&](VARIANT* v) { V_ARRAY(v) = array; }));
}

// A by-reference variant that refers to `target`, which it does not own.
Hostile referenceTo(std::function<void(VARIANT& referred, VARIANT& passed)> aim) {
  Hostile hostile;
  hostile.referred = std::make_unique<VARIANT>();
  VariantInit(hostile.referred.get());
  V_VT(&hostile.passed) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&hostile.passed) = hostile.referred.get();
  aim(*hostile.referred, hostile.passed);
  return hostile;
}

// Calls the report's members with hostile values: each is refused with the dispatch error and the
// argument's place, the process lives on, and a list with many elements is shown cut short.
void valuesThatLieAboutThemselvesAreRefused() {
  const com_ptr<IDispatch> report = createFromProgId(kReportProgId);
  unique_variant list = variantArray({});
  LONG number = 7;

  struct Row {
    const char* name;
    std::function<Hostile()> make;
    HRESULT expected;
  };
  const Row rows[] = {
      {"null reference to a variant", [] { return withType(VT_BYREF | VT_VARIANT); }, DISP_E_BADVARTYPE},
      {"null reference to an array", [] { return withType(VT_BYREF | VT_ARRAY | VT_VARIANT); }, DISP_E_BADVARTYPE},
      {"reference to a reference", [&] {
         return referenceTo([&](VARIANT& referred, VARIANT&) {
           V_VT(&referred) = VT_BYREF | VT_VARIANT;
           V_VARIANTREF(&referred) = list.get();
         });
       }, DISP_E_BADVARTYPE},
      {"reference to itself", [] {
         Hostile hostile = referenceTo([](VARIANT&, VARIANT&) {});
         V_VT(hostile.referred.get()) = VT_BYREF | VT_VARIANT;  // refers to itself
         V_VARIANTREF(hostile.referred.get()) = hostile.referred.get();
         V_VARIANTREF(&hostile.passed) = hostile.referred.get();
         return hostile;
       }, DISP_E_BADVARTYPE},
      {"texts labelled as variants", [] {
         unique_variant texts = textArray({L"a", L"b"});
         return forgedArray(std::move(texts), VT_ARRAY | VT_VARIANT, [](SAFEARRAY&) {});
       }, DISP_E_BADVARTYPE},
      {"longs labelled as texts", [] {
         SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 2);
         return plain(made(VT_ARRAY | VT_BSTR, [&](VARIANT* v) { V_ARRAY(v) = array; }));
       }, DISP_E_BADVARTYPE},
      {"variants with the element size of a long",
       [] { return forgedArray(longsArray(2), VT_ARRAY | VT_VARIANT, [](SAFEARRAY& a) { a.cbElements = 4; }); },
       DISP_E_BADVARTYPE},
      {"texts without the feature that frees them", [] {
         return forgedArray(textArray({L"a"}), VT_ARRAY | VT_BSTR, [](SAFEARRAY& a) { a.fFeatures &= ~FADF_BSTR; });
       }, DISP_E_BADVARTYPE},
      {"no memory behind the elements",
       [] { return forgedArray(longsArray(2), VT_ARRAY | VT_VARIANT, [](SAFEARRAY& a) { a.pvData = nullptr; }); },
       DISP_E_BADVARTYPE},
      {"indices past the largest LONG", [] {
         return forgedArray(longsArray(2), VT_ARRAY | VT_VARIANT, [](SAFEARRAY& a) { a.rgsabound[0].lLbound = LONG_MAX; });
       }, DISP_E_BADVARTYPE},
      {"a reference kept in a list", [&] {
         // Written in place, as SafeArrayPutElement would not take it.
         SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
         VARIANT* element = static_cast<VARIANT*>(array->pvData);
         V_VT(element) = VT_BYREF | VT_I4;
         V_I4REF(element) = &number;
         return plain(made(VT_ARRAY | VT_VARIANT, [&](VARIANT* v) { V_ARRAY(v) = array; }));
       }, DISP_E_BADVARTYPE},
      {"a record", [] { return withType(VT_RECORD); }, DISP_E_BADVARTYPE},
      {"an unknown type", [] { return withType(VT_VECTOR | VT_I4); }, DISP_E_BADVARTYPE},
      {"three dimensions", [] { return arrayOfDimensions(3); }, DISP_E_TYPEMISMATCH},
      {"sixty dimensions", [] { return arrayOfDimensions(60); }, DISP_E_TYPEMISMATCH},
      {"a list that holds itself", [] {
         SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
         VARIANT* element = static_cast<VARIANT*>(array->pvData);
         V_VT(element) = VT_ARRAY | VT_VARIANT;
         V_ARRAY(element) = array;
         Hostile hostile = plain(made(VT_ARRAY | VT_VARIANT, [&](VARIANT* v) { V_ARRAY(v) = array; }));
         hostile.undo = [element] { VariantInit(element); };
         return hostile;
       }, DISP_E_TYPEMISMATCH},
      {"more variants than a report copies", [] { return plain(longsArray(1'000'001)); }, DISP_E_TYPEMISMATCH},
  };

  // Each hostile value goes in each place it can reach: a property put and the third list.
  for (const Row& row : rows) {
    {
      Hostile hostile = row.make();
      const Outcome put = invoke(report.get(), L"UserData", DISPATCH_PROPERTYPUT, {hostile.passed});
      expectCode(put.code, row.expected, test::row(std::string(row.name) + " in UserData"));
      expect(put.argumentError == 0, test::row(std::string(row.name) + " in UserData"),
             "argument error " + std::to_string(put.argumentError));
    }
    Hostile hostile = row.make();
    const Outcome set = invoke(report.get(), L"SetVariables", DISPATCH_METHOD,
                               {byRef(list), byRef(list), hostile.passed, byRef(list)});
    expectCode(set.code, row.expected, test::row(std::string(row.name) + " in SetVariables"));
    expect(set.argumentError == 1, test::row(std::string(row.name) + " in SetVariables"),
           "argument error " + std::to_string(set.argumentError) + ", expected 1 (the third list)");
  }

  Hostile nullDialog = withType(VT_BYREF | VT_DISPATCH);
  const Outcome dialogPut = invoke(report.get(), L"CustomDialog", DISPATCH_PROPERTYPUTREF, {nullDialog.passed});
  expectCode(dialogPut.code, DISP_E_BADVARTYPE, "[null reference to the dialog]");

  // A list of many elements is taken; the report shows its first 100, then "...".
  const com_ptr<FakeDialog> dialog = FakeDialog::create(5);
  put(report.get(), L"CustomDialog", objectValue(dialog.get()), DISPATCH_PROPERTYPUTREF);
  unique_variant locals = pairs([] {
    std::vector<std::pair<std::wstring, unique_variant>> entries;
    entries.emplace_back(L"arrBig", longsArray(100'000));
    for (int i = 0; i < 60; ++i) entries.emplace_back(L"v" + std::to_wstring(i), longValue(i));
    return entries;
  }());
  expectCode(invoke(report.get(), L"SetVariables", DISPATCH_METHOD, {byRef(list), byRef(locals), byRef(list), byRef(list)}).code,
             S_OK, "[many elements]");
  expectCode(invoke(report.get(), L"ReportError", DISPATCH_METHOD, {}).code, S_OK, "[many elements shown]");
  const std::wstring& shown = dialog->shownText;
  expect(shown.find(L"    arrBig = [0, 1, 2, ") != std::wstring::npos && shown.find(L", 98, 99, ...]\n") != std::wstring::npos,
         "[100 elements of an array]", "not cut after 100 elements:\n" + narrow(shown.substr(0, 2000)));
  expect(shown.find(L"    v48 = 48\n    ...\n") != std::wstring::npos && shown.find(L"v49") == std::wstring::npos,
         "[100 elements of a list]", "the list of variables is not cut after 100 elements");
}

// ---- registration, all or nothing -----------------------------------------------------------

// An in-memory registry that fails one chosen call. Names compare without case, as the registry's.
class FakeRegistry final : public Registry {
 public:
  using Values = std::map<std::wstring, RegistryValue>;
  using Keys = std::map<std::wstring, Values>;  // full path (root included), lower case

  Keys keys;
  int calls = 0;
  int failingCall = -1;  // none

  static std::wstring lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
  }
  static std::wstring pathOf(HKEY root, const std::wstring& path) {
    return lower((root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\") + path);
  }
  void seed(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    std::wstring full = pathOf(root, path);
    for (size_t end = full.find(L'\\'); end != std::wstring::npos; end = full.find(L'\\', end + 1)) keys[full.substr(0, end)];
    keys[full][name ? lower(name) : L""] = textValue(text);
  }

  LSTATUS keyExists(HKEY root, const std::wstring& path, bool* exists) override {
    if (faulty()) return ERROR_ACCESS_DENIED;
    *exists = keys.count(pathOf(root, path)) > 0;
    return ERROR_SUCCESS;
  }
  LSTATUS createKey(HKEY root, const std::wstring& path, bool* created) override {
    *created = false;
    if (faulty()) return ERROR_ACCESS_DENIED;
    const std::wstring full = pathOf(root, path);
    const size_t parent = full.rfind(L'\\');
    if (parent != std::wstring::npos && full.find(L'\\') != parent && !keys.count(full.substr(0, parent)))
      return ERROR_FILE_NOT_FOUND;
    *created = keys.emplace(full, Values{}).second;
    return ERROR_SUCCESS;
  }
  LSTATUS queryValue(HKEY root, const std::wstring& path, const wchar_t* name, RegistryValue* value) override {
    if (faulty()) return ERROR_ACCESS_DENIED;
    const auto key = keys.find(pathOf(root, path));
    if (key == keys.end()) return ERROR_FILE_NOT_FOUND;
    const auto found = key->second.find(name ? lower(name) : L"");
    if (found == key->second.end()) return ERROR_FILE_NOT_FOUND;
    *value = found->second;
    return ERROR_SUCCESS;
  }
  LSTATUS setValue(HKEY root, const std::wstring& path, const wchar_t* name, const RegistryValue& value) override {
    if (faulty()) return ERROR_ACCESS_DENIED;
    const auto key = keys.find(pathOf(root, path));
    if (key == keys.end()) return ERROR_FILE_NOT_FOUND;
    key->second[name ? lower(name) : L""] = value;
    return ERROR_SUCCESS;
  }
  LSTATUS deleteValue(HKEY root, const std::wstring& path, const wchar_t* name) override {
    if (faulty()) return ERROR_ACCESS_DENIED;
    const auto key = keys.find(pathOf(root, path));
    if (key == keys.end()) return ERROR_FILE_NOT_FOUND;
    return key->second.erase(name ? lower(name) : L"") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  LSTATUS deleteKey(HKEY root, const std::wstring& path) override {
    if (faulty()) return ERROR_ACCESS_DENIED;
    const std::wstring full = pathOf(root, path);
    if (!keys.count(full)) return ERROR_FILE_NOT_FOUND;
    const auto child = keys.upper_bound(full);
    if (child != keys.end() && child->first.starts_with(full + L"\\")) return ERROR_ACCESS_DENIED;  // has subkeys
    keys.erase(full);
    return ERROR_SUCCESS;
  }
  LSTATUS deleteTree(HKEY root, const std::wstring& path) override {
    if (faulty()) return ERROR_ACCESS_DENIED;
    const std::wstring full = pathOf(root, path);
    if (!keys.erase(full)) return ERROR_FILE_NOT_FOUND;
    for (auto key = keys.lower_bound(full + L"\\"); key != keys.end() && key->first.starts_with(full + L"\\");)
      key = keys.erase(key);
    return ERROR_SUCCESS;
  }

 private:
  bool faulty() { return calls++ == failingCall; }
};

constexpr wchar_t kThisServer[] = L"C:\\Apps\\Patch\\VBGuardReport.dll";
constexpr wchar_t kOtherServer[] = L"C:\\Old\\VBGuardReport.dll";
constexpr wchar_t kOtherClass[] = L"{00000000-0000-0000-0000-000000000001}";

std::span<const ServedClass> bothClasses() {
  static const ServedClass classes[] = {
      {&kReportClassId, kReportProgId, L"VBGuardReport error report", nullptr},
      {&kDialogClassId, kDialogProgId, L"VBGuardReport error report dialog", nullptr},
  };
  return classes;
}

// A working registration of an older copy elsewhere, a ProgID taken over by another class, and
// keys of other components.
FakeRegistry registeredElsewhere() {
  FakeRegistry registry;
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring report = classes + L"CLSID\\" + classIdText(kReportClassId);
  registry.seed(HKEY_LOCAL_MACHINE, report, nullptr, L"old name");
  registry.seed(HKEY_LOCAL_MACHINE, report + L"\\InprocServer32", nullptr, kOtherServer);
  registry.seed(HKEY_LOCAL_MACHINE, report + L"\\InprocServer32", L"ThreadingModel", L"Both");
  registry.seed(HKEY_LOCAL_MACHINE, classes + kReportProgId + L"\\CLSID", nullptr, classIdText(kReportClassId));
  registry.seed(HKEY_LOCAL_MACHINE, classes + kDialogProgId + L"\\CLSID", nullptr, kOtherClass);
  registry.seed(HKEY_LOCAL_MACHINE, classes + L"Other.Component\\CLSID", nullptr, kOtherClass);
  return registry;
}

void aFailedRegistrationLeavesTheRegistryAsItWas() {
  const std::wstring classes = L"Software\\Classes";
  // The fault goes to each registry call in turn, until registration makes fewer calls than that.
  for (int failing = 0;; ++failing) {
    FakeRegistry registry = registeredElsewhere();
    const FakeRegistry::Keys before = registry.keys;
    registry.failingCall = failing;
    const HRESULT hr = registerClasses(registry, HKEY_LOCAL_MACHINE, classes, bothClasses(), kThisServer);
    const std::string where = "[call " + std::to_string(failing + 1) + " fails]";
    if (registry.calls <= failing) {
      registry.failingCall = -1;
      expectCode(hr, S_OK, "[no call fails]");
      expect(failing > 20, "[no call fails]", "only " + std::to_string(failing) + " registry calls");
      const std::wstring report = classes + L"\\CLSID\\" + classIdText(kReportClassId);
      RegistryValue server;
      registry.queryValue(HKEY_LOCAL_MACHINE, report + L"\\InprocServer32", nullptr, &server);
      expect(server == textValue(kThisServer), "[no call fails]", "InprocServer32 is not this module");
      RegistryValue named;
      registry.queryValue(HKEY_LOCAL_MACHINE, classes + L"\\" + kDialogProgId + L"\\CLSID", nullptr, &named);
      expect(named == textValue(classIdText(kDialogClassId)), "[no call fails]", "the dialog's ProgID is not ours");
      break;
    }
    expectCode(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), where);
    expect(registry.keys == before, where, "the registry differs from before the call");
  }
}

void unregistrationRemovesOnlyThisModulesClasses() {
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring report = classes + L"CLSID\\" + classIdText(kReportClassId);
  const std::wstring dialog = classes + L"CLSID\\" + classIdText(kDialogClassId);
  const auto registerHere = [](FakeRegistry& r) {
    expectCode(registerClasses(r, HKEY_LOCAL_MACHINE, L"Software\\Classes", bothClasses(), kThisServer), S_OK, "[seed]");
  };
  // Another component registered under both ProgIDs before this one took them over.
  const auto anotherComponent = [&](FakeRegistry& r) {
    r.seed(HKEY_LOCAL_MACHINE, classes + kReportProgId + L"\\CLSID", nullptr, kOtherClass);
    r.seed(HKEY_LOCAL_MACHINE, classes + kDialogProgId + L"\\CLSID", nullptr, kOtherClass);
  };
  struct Row {
    const char* name;
    std::function<void(FakeRegistry&)> seed;
    std::vector<std::wstring> kept, removed;
    // ProgIDs that must name the other component's class again, with nothing of this one left.
    std::vector<std::wstring> givenBack = {};
  };
  const Row rows[] = {
      {"registered here", [&](FakeRegistry& r) { registerClasses(r, HKEY_LOCAL_MACHINE, L"Software\\Classes", bothClasses(), kThisServer); },
       {classes + L"CLSID"}, {report, dialog, classes + kReportProgId, classes + kDialogProgId}},
      {"registered here, path in other case", [&](FakeRegistry& r) {
         registerClasses(r, HKEY_LOCAL_MACHINE, L"Software\\Classes", bothClasses(), L"c:\\APPS\\patch\\vbguardreport.DLL");
       }, {}, {report, classes + kReportProgId}},
      {"an older copy elsewhere", [](FakeRegistry& r) { r = registeredElsewhere(); },
       {report, classes + kReportProgId, classes + kDialogProgId, classes + L"Other.Component"}, {}},
      {"the class gone, its ProgID left", [&](FakeRegistry& r) {
         r.seed(HKEY_LOCAL_MACHINE, classes + kReportProgId + L"\\CLSID", nullptr, classIdText(kReportClassId));
       }, {}, {classes + kReportProgId}},
      {"a class served from elsewhere with no InprocServer32", [&](FakeRegistry& r) {
         r.seed(HKEY_LOCAL_MACHINE, report + L"\\LocalServer32", nullptr, L"C:\\Other\\server.exe");
         r.seed(HKEY_LOCAL_MACHINE, classes + kReportProgId + L"\\CLSID", nullptr, classIdText(kReportClassId));
       }, {report + L"\\LocalServer32", classes + kReportProgId}, {}},
      {"registered over another component", [&](FakeRegistry& r) { anotherComponent(r), registerHere(r); },
       {classes + kReportProgId, classes + kDialogProgId}, {report, dialog}, {kReportProgId, kDialogProgId}},
      {"registered twice over another component", [&](FakeRegistry& r) {
         anotherComponent(r), registerHere(r), registerHere(r);
       }, {classes + kReportProgId, classes + kDialogProgId}, {report, dialog}, {kReportProgId, kDialogProgId}},
      {"registered over a ProgID that named no class", [&](FakeRegistry& r) {
         r.seed(HKEY_LOCAL_MACHINE, classes + kReportProgId, nullptr, L"someone's");
         registerHere(r);
       }, {classes + kReportProgId}, {report, classes + kReportProgId + L"\\CLSID", classes + kDialogProgId}},
  };
  for (const Row& row : rows) {
    FakeRegistry registry;
    row.seed(registry);
    expectCode(unregisterClasses(registry, HKEY_LOCAL_MACHINE, L"Software\\Classes", bothClasses(), kThisServer), S_OK,
               test::row(row.name));
    for (const std::wstring& key : row.kept)
      expect(registry.keys.count(FakeRegistry::pathOf(HKEY_LOCAL_MACHINE, key)), test::row(row.name), "removed " + narrow(key));
    for (const std::wstring& key : row.removed)
      expect(!registry.keys.count(FakeRegistry::pathOf(HKEY_LOCAL_MACHINE, key)), test::row(row.name), "kept " + narrow(key));
    for (const std::wstring& progId : row.givenBack) {
      RegistryValue named, replaced;
      registry.queryValue(HKEY_LOCAL_MACHINE, classes + progId + L"\\CLSID", nullptr, &named);
      expect(named == textValue(kOtherClass), test::row(row.name), narrow(progId) + " does not name the other class");
      expect(registry.queryValue(HKEY_LOCAL_MACHINE, classes + progId, L"VBGuardReport.ReplacedCLSID", &replaced) ==
                 ERROR_FILE_NOT_FOUND,
             test::row(row.name), narrow(progId) + " keeps the replaced class");
    }
  }
}

// ---- modes run by the script ---------------------------------------------------------------

int checkUserRegistration(bool present) {
  // The server is not loaded here: the expected path is the one the machine registration holds.
  const std::wstring report = L"Software\\Classes\\CLSID\\" + guidText(kReportClassId) + L"\\InprocServer32";
  const std::optional<std::wstring> machinePath = registryText(HKEY_LOCAL_MACHINE, report);
  if (!machinePath) return fail("machine registration", "missing"), 1;
  LoadLibraryW(machinePath->c_str());  // so that expectClassKeys knows the path
  expectClassKeys(HKEY_CURRENT_USER, present, present ? "HKCU after regsvr32 /n /i:user" : "HKCU after regsvr32 /u /n /i:user");
  return failures ? 1 : 0;
}

// Presses each button of the report window in turn, from a second thread, and checks the window
// on the way: owned by the utility's window, which cannot be used meanwhile.
class InteractiveCheck {
 public:
  explicit InteractiveCheck(std::wstring folder) : folder_(std::move(folder)) {}

  int run() {
    SetEnvironmentVariableW(L"VBGUARD_REPORT_ANSWERS", nullptr);
    shown_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    owner_ = createOwner();
    hook_ = SetWindowsHookExW(WH_CBT, &InteractiveCheck::watchActivation, nullptr, GetCurrentThreadId());
    instance_ = this;
    HANDLE presser = CreateThread(nullptr, 0, &InteractiveCheck::pressButtons, this, 0, nullptr);

    for (const int button : kButtons) {
      const LONG answer = reportFailure(nullptr, true);
      std::printf("report window closed with button %d: answer %ld\n", button, static_cast<long>(answer));
      expect(answer == button, "[button " + std::to_string(button) + "]", "answered " + std::to_string(answer));
      expect(IsWindowEnabled(owner_), "[button " + std::to_string(button) + "]", "owner still disabled after the report");
    }
    WaitForSingleObject(presser, INFINITE);
    CloseHandle(presser);
    aWindowThatCannotBeCreatedFailsTheCall();
    UnhookWindowsHookEx(hook_);
    DestroyWindow(owner_);
    CloseHandle(shown_);
    writeResult();
    return failures ? 1 : 0;
  }

 private:
  static constexpr int kButtons[] = {IDABORT, IDRETRY, IDIGNORE};
  static inline InteractiveCheck* instance_ = nullptr;

  static HWND createOwner() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"ReportTestOwner";
    RegisterClassW(&windowClass);
    HWND owner = CreateWindowExW(0, windowClass.lpszClassName, kAppTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 420, 260,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
    SetForegroundWindow(owner);
    SetActiveWindow(owner);
    UpdateWindow(owner);
    return owner;
  }

  static LRESULT CALLBACK watchActivation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && instance_->refuseDialogs_) {
      wchar_t className[32] = L"";
      GetClassNameW(reinterpret_cast<HWND>(wParam), className, 32);
      if (std::wstring_view(className) == L"#32770") return 1;  // the window is not created
    }
    if (code == HCBT_ACTIVATE) {
      wchar_t className[32] = L"";
      GetClassNameW(reinterpret_cast<HWND>(wParam), className, 32);
      // Once per report window, however often it is activated.
      if (std::wstring_view(className) == L"#32770" && instance_->box_ != reinterpret_cast<HWND>(wParam)) {
        instance_->box_ = reinterpret_cast<HWND>(wParam);
        SetEvent(instance_->shown_);
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static DWORD WINAPI pressButtons(void* self) {
    static_cast<InteractiveCheck*>(self)->pressEachButton();
    return 0;
  }

  void pressEachButton() {
    for (const int button : kButtons) {
      const std::string row = "[button " + std::to_string(button) + "]";
      if (WaitForSingleObject(shown_, 60000) != WAIT_OBJECT_0) {
        fail(row, "no report window within a minute");
        ExitProcess(2);
      }
      const HWND box = box_;
      // Activated when its focus is set, the window is shown only once its modal loop goes idle.
      for (int tenths = 0; tenths < 600 && IsWindow(box) && !IsWindowVisible(box); ++tenths) Sleep(100);
      expect(IsWindowVisible(box), row, "not shown within a minute of its activation");
      expect(GetWindow(box, GW_OWNER) == owner_, row, "the report is not owned by the active window");
      expect(!IsWindowEnabled(owner_), row, "the owner can still be used while the report is open");
      wchar_t caption[128] = L"";
      GetWindowTextW(box, caption, 128);
      expectText(caption, L"PatchQUADRELL-Windows10 - Segnalazione errore", row + " caption");
      const HWND details = FindWindowExW(box, nullptr, L"Edit", nullptr);
      const LONG_PTR detailsStyle = GetWindowLongPtrW(details, GWL_STYLE);
      expect(details && (detailsStyle & ES_READONLY) && (detailsStyle & ES_MULTILINE) && (detailsStyle & WS_VSCROLL), row,
             "the details are not in a read-only box that scrolls");
      std::wstring message(static_cast<size_t>(SendMessageW(details, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
      message.resize(static_cast<size_t>(
          SendMessageW(details, WM_GETTEXT, message.size(), reinterpret_cast<LPARAM>(message.data()))));
      for (const wchar_t* part : {L"Numero errore: 13", L"Percorso: C:\\Apps\\Patch", L"    lngRet = -5", L"    gFlag = True",
                                  L"    strValore = \"xxxxxxxx"})
        expect(message.find(part) != std::wstring::npos, row, "text lacks " + narrow(part));
      expectFitsTheScreen(box, row);
      expectKeyboardReachesTheButtons(box, details, row);
      // Escape and the close box give no answer: the window stays until a button is pressed.
      SendMessageW(box, WM_COMMAND, IDCANCEL, 0);
      SendMessageW(box, WM_CLOSE, 0, 0);
      expect(IsWindow(box) && (GetWindowLongPtrW(box, GWL_STYLE) & WS_VISIBLE), row, "closed by Escape or the close box");
      const struct {
        int id;
        const wchar_t* caption;
      } buttons[] = {{IDABORT, L"&Interrompi"}, {IDRETRY, L"&Riprova"}, {IDIGNORE, L"&Ignora"}};
      for (const auto& expected : buttons) {
        wchar_t shown[64] = L"";
        GetDlgItemTextW(box, expected.id, shown, 64);
        expectText(shown, expected.caption, row + " button " + std::to_string(expected.id));
      }
      if (button == IDABORT && !folder_.empty()) waitForScreenshot();
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    }
  }

  // With the 40,000-character value in the report: the window and each button lie inside the
  // work area of the window's monitor, and the buttons inside the window.
  static void expectFitsTheScreen(HWND box, const std::string& row) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    const auto inside = [](const RECT& inner, const RECT& outer) {
      return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom &&
             inner.right > inner.left && inner.bottom > inner.top;
    };
    const auto text = [](const RECT& r) {
      return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
             std::to_string(r.bottom) + ")";
    };
    RECT window{}, client{};
    GetWindowRect(box, &window);
    GetClientRect(box, &client);
    MapWindowPoints(box, nullptr, reinterpret_cast<POINT*>(&client), 2);
    expect(inside(window, work), row, "window " + text(window) + " outside the work area " + text(work));
    expect((window.right - window.left) * 3 <= (work.right - work.left) * 2, row,
           "window " + text(window) + " wider than two thirds of the work area " + text(work));
    for (const int id : kButtons) {
      RECT button{};
      GetWindowRect(GetDlgItem(box, id), &button);
      const std::string which = row + " button " + std::to_string(id);
      // Its own style: the window itself may not be on screen yet when activated.
      expect(GetWindowLongPtrW(GetDlgItem(box, id), GWL_STYLE) & WS_VISIBLE, which, "hidden");
      expect(inside(button, work), which, text(button) + " outside the work area " + text(work));
      expect(inside(button, client), which, text(button) + " outside the window's client area " + text(client));
    }
  }

  // The focus starts on Interrompi; Tab goes through the three buttons and the details.
  static void expectKeyboardReachesTheButtons(HWND box, HWND details, const std::string& row) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &thread);
    expect(thread.hwndFocus == GetDlgItem(box, IDABORT), row, "the focus is not on Interrompi");
    const HWND order[] = {GetDlgItem(box, IDABORT), GetDlgItem(box, IDRETRY), GetDlgItem(box, IDIGNORE), details,
                          GetDlgItem(box, IDABORT)};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
      expect(GetNextDlgTabItem(box, order[i], FALSE) == order[i + 1], row, "Tab order breaks after stop " + std::to_string(i + 1));
  }

  // A report window that cannot be made fails ShowReport with a failure code, never with success,
  // and leaves the utility's window usable.
  void aWindowThatCannotBeCreatedFailsTheCall() {
    refuseDialogs_ = true;
    const com_ptr<IDispatch> dialog = createFromProgId(kDialogProgId);
    const unique_variant reportText = text(L"testo"), caption = text(L"titolo");
    const Outcome shown = invoke(dialog.get(), L"ShowReport", DISPATCH_METHOD, {*reportText.get(), *caption.get()});
    refuseDialogs_ = false;
    expectCode(shown.code, DISP_E_EXCEPTION, "[window refused]");
    expect(FAILED(shown.exceptionCode), "[window refused]", "failure code " + hex(shown.exceptionCode));
    expect(IsWindowEnabled(owner_), "[window refused]", "owner left disabled");
  }

  // Tells the script the window is up and waits until it has taken its picture.
  void waitForScreenshot() {
    const unique_hfile shown(CreateFileW((folder_ + L"\\shown").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::wstring taken = folder_ + L"\\taken";
    for (int tenths = 0; tenths < 600 && GetFileAttributesW(taken.c_str()) == INVALID_FILE_ATTRIBUTES; ++tenths) Sleep(100);
  }

  void writeResult() {
    if (folder_.empty()) return;
    const std::string result = failures ? "FAILED\n" : "PASSED\n";
    const unique_hfile file(CreateFileW((folder_ + L"\\result").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), result.data(), static_cast<DWORD>(result.size()), &written, nullptr);
  }

  std::wstring folder_;
  HANDLE shown_ = nullptr;
  HWND owner_ = nullptr;
  HWND box_ = nullptr;
  HHOOK hook_ = nullptr;
  bool refuseDialogs_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  try {
    const handles::unique_apartment apartment;
    check(apartment.status());
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"--user-registration" && argc > 2) return checkUserRegistration(std::wstring_view(argv[2]) == L"yes");
    if (mode == L"--interactive") return InteractiveCheck(argc > 2 ? argv[2] : L"").run();

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    logPath = std::wstring(temp) + L"vbguard-report-test.jsonl";
    return runAll({
        {"scripted answers run across report objects and the log records every call",
         scriptedAnswersRunAcrossReportsAndTheLogRecordsEveryCall},
        {"classes are registered for the machine", classesAreRegisteredForTheMachine},
        {"every value is logged with its type", everyValueIsLoggedWithItsType},
        {"the report shown lists everything the utility passed", theReportShownListsEverythingTheUtilityPassed},
        {"calls outside the contract get the dispatch error", callsOutsideTheContractGetTheDispatchError},
        {"properties read back and the read is logged", propertiesReadBackAndTheReadIsLogged},
        {"a dialog that cannot show the report fails ReportError", aDialogThatCannotShowTheReportFailsReportError},
        {"the server unloads only when nothing is in use", theServerUnloadsOnlyWhenNothingIsInUse},
        {"unregistration removes the machine keys and registration restores them",
         unregistrationRemovesTheMachineKeysAndRegistrationRestoresThem},
        {"user installation uses the user's classes only", userInstallationUsesTheUsersClassesOnly},
        {"values that lie about themselves are refused", valuesThatLieAboutThemselvesAreRefused},
        {"a failed registration leaves the registry as it was", aFailedRegistrationLeavesTheRegistryAsItWas},
        {"unregistration removes only this module's classes", unregistrationRemovesOnlyThisModulesClasses},
    });
  } catch (const Failure& failure) {
    std::printf("stopped by %s\n", hex(failure.code()).c_str());
    return 2;
  }
}
