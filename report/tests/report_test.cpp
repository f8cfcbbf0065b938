// Tests of VBGuardReport.dll through COM, as the utility uses it: registered with regsvr32, created
// from its ProgIDs, driven late-bound. Run under Wine by run.sh.
//
//   report_test.exe                          the contract, the log, registration (machine)
//   report_test.exe --user-registration yes|no   whether regsvr32 /n /i:user left its keys
//   report_test.exe --interactive [folder]   the report window, answered by pressing its buttons;
//                                            with a folder, waits there for a screenshot
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

#include "../classes.h"
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

VariableLists variableLists(IDispatch* someObject) {
  std::vector<std::pair<std::wstring, unique_variant>> parameters, locals, globals;
  parameters.emplace_back(L"sPath", text(kTrickyPath));
  parameters.emplace_back(L"nCount", shortValue(7));
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
LONG reportFailure(IDispatch* dialog = nullptr) {
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
  VariableLists lists = variableLists(listed.get());
  const Outcome set = invoke(report.get(), L"SetVariables", DISPATCH_METHOD,
                             {byRef(lists.parameters), byRef(lists.locals), byRef(lists.moduleVariables), byRef(lists.globals)});
  if (FAILED(set.code)) throw Failure(set.code, L"SetVariables");

  Outcome answer = invoke(report.get(), L"ReportError", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
  if (FAILED(answer.code)) throw Failure(answer.code, L"ReportError");
  unique_variant number;
  check(VariantChangeType(number.put(), const_cast<VARIANT*>(&answer.result.get()), 0, VT_I4));
  return V_I4(&number.get());
}

// ---- the call log --------------------------------------------------------------------------

std::wstring logPath;

std::vector<std::string> logLines() {
  const unique_file file(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
      check(SafeArrayPutElement(array, indices, const_cast<VARIANT*>(&value.get())));
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
      {"put of a text", L"AppTitle", DISPATCH_PROPERTYPUT, {title.get()}, {}, S_OK},
      {"put of an object by value", L"CustomDialog", DISPATCH_PROPERTYPUT, {object.get()}, {}, S_OK},
      {"put of an object by reference", L"CustomDialog", DISPATCH_PROPERTYPUTREF, {object.get()}, {}, S_OK},
      {"put of a String() array", L"UserData", DISPATCH_PROPERTYPUT, {strings.get()}, {}, S_OK},
      {"method called as a property read too", L"ReportError", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK},
      {"property read as a method too", L"AppTitle", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK},
      {"text for an array property", L"ErrDescription", DISPATCH_PROPERTYPUT, {title.get()}, {}, DISP_E_TYPEMISMATCH, 0},
      {"Null for a text property", L"AppPath", DISPATCH_PROPERTYPUT, {nullText.get()}, {}, DISP_E_TYPEMISMATCH, 0},
      {"text for the dialog", L"CustomDialog", DISPATCH_PROPERTYPUTREF, {title.get()}, {}, DISP_E_TYPEMISMATCH, 0},
      {"value property set by reference", L"AppTitle", DISPATCH_PROPERTYPUTREF, {title.get()}, {}, DISP_E_MEMBERNOTFOUND},
      {"put without DISPID_PROPERTYPUT", L"AppTitle", DISPATCH_PROPERTYPUT, {title.get()}, {false, {}}, DISP_E_PARAMNOTFOUND},
      {"put of two values", L"AppTitle", DISPATCH_PROPERTYPUT, {title.get(), title.get()}, {}, DISP_E_BADPARAMCOUNT},
      {"property read with an argument", L"AppTitle", DISPATCH_PROPERTYGET, {title.get()}, {}, DISP_E_BADPARAMCOUNT},
      {"property called as a method", L"AppTitle", DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND},
      {"method read as a property", L"ReportError", DISPATCH_PROPERTYGET, {}, {}, DISP_E_MEMBERNOTFOUND},
      {"method set as a property", L"ReportError", DISPATCH_PROPERTYPUT, {number.get()}, {}, DISP_E_MEMBERNOTFOUND},
      {"method with a named argument", L"ReportError", DISPATCH_METHOD, {number.get()}, {true, {0}}, DISP_E_NONAMEDARGS},
      {"three lists", L"SetVariables", DISPATCH_METHOD, {byRef(list), byRef(list), byRef(list)}, {}, DISP_E_BADPARAMCOUNT},
      {"third list not an array", L"SetVariables", DISPATCH_METHOD, {byRef(list), byRef(list), byRef(number), byRef(list)},
       {}, DISP_E_TYPEMISMATCH, 1},
      {"lists passed by value", L"SetVariables", DISPATCH_METHOD, {array.get(), array.get(), array.get(), array.get()}, {}, S_OK},
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
  expect(V_VT(&title.result.get()) == VT_BSTR && std::wstring_view(V_BSTR(&title.result.get())) == kAppTitle, "[AppTitle]",
         "not the title put");
  const Outcome held = invoke(report.get(), L"CustomDialog", DISPATCH_PROPERTYGET, {});
  expect(V_VT(&held.result.get()) == VT_DISPATCH && V_DISPATCH(&held.result.get()) == dialog.get(), "[CustomDialog]",
         "not the dialog put");
  const Outcome missing = invoke(report.get(), L"AppPath", DISPATCH_PROPERTYGET, {});
  expect(V_VT(&missing.result.get()) == VT_EMPTY, "[AppPath never put]", "not Empty");

  const std::vector<std::string> lines = logLines();
  const std::string expected[] = {
      R"("member":"AppTitle","kind":"get","args":[],"result":{"vt":"VT_BSTR","value":"PatchQUADRELL-Windows10"}})",
      R"("member":"CustomDialog","kind":"get","args":[],"result":{"vt":"VT_DISPATCH","value":"myVBGDialog.myCustomDialog"}})",
      R"("member":"AppPath","kind":"get","args":[]})",
  };
  for (size_t i = 0; i < std::size(expected); ++i)
    expectText(i < lines.size() ? afterInstance(lines[i]) : "(missing)", expected[i], "[log line " + std::to_string(i + 1) + "]");

  // A refused call is logged with its error.
  invoke(report.get(), L"ErrDescription", DISPATCH_PROPERTYPUT, {title.result.get()});
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
  RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Classes\\") + kDialogProgId).c_str());
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
      const LONG answer = reportFailure();
      std::printf("report window closed with button %d: answer %ld\n", button, static_cast<long>(answer));
      expect(answer == button, "[button " + std::to_string(button) + "]", "answered " + std::to_string(answer));
      expect(IsWindowEnabled(owner_), "[button " + std::to_string(button) + "]", "owner still disabled after the report");
    }
    WaitForSingleObject(presser, INFINITE);
    CloseHandle(presser);
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
    if (code == HCBT_ACTIVATE) {
      wchar_t className[32] = L"";
      GetClassNameW(reinterpret_cast<HWND>(wParam), className, 32);
      if (std::wstring_view(className) == L"#32770") {
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
      expect(GetWindow(box, GW_OWNER) == owner_, row, "the report is not owned by the active window");
      expect(!IsWindowEnabled(owner_), row, "the owner can still be used while the report is open");
      wchar_t caption[128] = L"";
      GetWindowTextW(box, caption, 128);
      expectText(caption, L"PatchQUADRELL-Windows10 - Segnalazione errore", row + " caption");
      std::wstring message(8192, L'\0');
      message.resize(GetDlgItemTextW(box, 0xFFFF, message.data(), static_cast<int>(message.size())));
      for (const wchar_t* part : {L"Numero errore: 13", L"Percorso: C:\\Apps\\Patch", L"    lngRet = -5", L"    gFlag = True"})
        expect(message.find(part) != std::wstring::npos, row, "text lacks " + narrow(part));
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

  // Tells the script the window is up and waits until it has taken its picture.
  void waitForScreenshot() {
    const unique_file shown(CreateFileW((folder_ + L"\\shown").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::wstring taken = folder_ + L"\\taken";
    for (int tenths = 0; tenths < 600 && GetFileAttributesW(taken.c_str()) == INVALID_FILE_ATTRIBUTES; ++tenths) Sleep(100);
  }

  void writeResult() {
    if (folder_.empty()) return;
    const std::string result = failures ? "FAILED\n" : "PASSED\n";
    const unique_file file(CreateFileW((folder_ + L"\\result").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), result.data(), static_cast<DWORD>(result.size()), &written, nullptr);
  }

  std::wstring folder_;
  HANDLE shown_ = nullptr;
  HWND owner_ = nullptr;
  HWND box_ = nullptr;
  HHOOK hook_ = nullptr;
};

struct ComApartment {
  ComApartment() { check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  ~ComApartment() { CoUninitialize(); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  try {
    const ComApartment apartment;
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
    });
  } catch (const Failure& failure) {
    std::printf("stopped by %s\n", hex(failure.code()).c_str());
    return 2;
  }
}
