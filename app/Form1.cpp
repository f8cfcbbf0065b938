#include "app/Form1.h"

#include "errors/procedure.h"
#include "runtime/conversions.h"

namespace app {

using errors::Body;
using errors::goTo;
using errors::If;
using errors::leave;
using registry::kHKeyCurrentUser;
using registry::kHKeyLocalMachine;
using rt::Text;
using rt::Variant;

namespace {

// What the run needs to know about one product.
struct Product {
  const char16_t* configurationKey;
  const char16_t* limitedConfigurationKey;
  const char16_t* installerEntry;
  const char16_t* installerValue;
  const char16_t* settingsKey;
  const char16_t* settingsValue;
  const char16_t* successLine;
  const char16_t* notNeededLine;
  const char16_t* problemLine;
};

constexpr Product kTessaro{
    u"Software\\OKRAN\\Tessaro",
    u"Software\\OKRAN\\TessaroLimited",
    checks::kTessaroEntry,
    u"Inno Setup: App Path",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Tessaro",
    u"InstallPath",
    u"Il ripristino del Software QUADRELL Tessaro è andato a buon fine.",
    u"Il ripristino del Software QUADRELL Tessaro non è stato necessario.",
    u"E' stato rilevato un problema durante il ripristino del Software QUADRELL Tessaro, si è pregati di ritentare "
    u"o procedere con la reinstallazione.",
};

constexpr Product kPerizon{
    u"Software\\OKRAN\\Perizon",
    u"Software\\OKRAN\\PerizonLimited",
    checks::kPerizonEntry,
    u"Inno Setup: Language",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Perizon",
    u"Lingua",
    u"Il ripristino del Software QUADRELL Perizon è andato a buon fine.",
    u"Il ripristino del Software QUADRELL Perizon non è stato necessario.",
    u"E' stato rilevato un problema durante il ripristino del Software QUADRELL Perizon, si è pregati di ritentare "
    u"o procedere con la reinstallazione.",
};

constexpr char16_t kNoConnection[] = u"Non è stata rilevata nessuna connessione Internet";
constexpr char16_t kLineEnd[] = u"\r\n";

// Statement labels of the run: S1, T1 to T9 for Tessaro, P1 to P9 for Perizon, D1 to D4 for
// the display, N1 and N2 without a connection. T6a/P6a refuse to write an empty setting.
enum Label {
  S1 = 1,
  T1 = 10, T2, T3, T4, T4b, T5, T6, T6a, T6b, T7, T7b, T8, T9, T9b, T9c,
  P1 = 30, P2, P3, P4, P5, P6, P6a, P6b, P7, P7b, P8, P9, P9b, P9c,
  D1 = 50, D2, D2b, D3, D3b, D4,
  N1 = 60, N2,
};

}  // namespace

Form1::Form1(errors::Protocol protocol, Form1Window& window, registry::modRegistro& registry,
             checks::EnvironmentChecks& checks)
    : protocol_(protocol), window_(window), registry_(registry), checks_(checks) {}

void Form1::SetModuleVariables() { protocol_.state.context.moduleVariables = rt::emptyList(); }

void Form1::cmdAnnulla_Click() {
  errors::Procedure procedure(protocol_, *this, u"cmdAnnulla_Click", rt::emptyList, rt::emptyList);
  procedure.run(Body{
      {100, [&] { window_.Unload(); }},
  });
}

void Form1::cmdOk_Click() {
  errors::ErrorState& state = protocol_.state;
  Text tessaroLine;
  Text installFolder;
  Text perizonLine;
  Text installLanguage;

  // Reads the installer's value from the ordinary registry view.
  auto readInstaller = [&](const Product& product) {
    return rt::toText(registry_.regQuery_A_Key(kHKeyLocalMachine, product.installerEntry, product.installerValue));
  };
  // Reads it from the 64-bit view; a missing value there (Null) fails the conversion and
  // leaves the setting as it was.
  auto readInstaller64 = [&](const Product& product) {
    return rt::toText(registry_.ReadRegStr(Variant(kHKeyLocalMachine), Variant(product.installerEntry),
                                           Variant(product.installerValue), Variant(int16_t{64})));
  };
  auto configurationKeyExists = [&](const char16_t* key) { return registry_.regDoes_Key_Exist(kHKeyCurrentUser, key); };
  auto writeSetting = [&](const Product& product, const Text& setting) {
    registry_.regCreate_Key_Value(kHKeyCurrentUser, product.settingsKey, product.settingsValue, Variant(setting));
  };

  window_.setBusy(true);
  errors::runSkippingFailures(state, Body{
      {S1, If{[&] { return checks_.ControllaConnessioneInternet() != 0; }, goTo(T1), goTo(N1)}},

      // Tessaro
      {T1, If{[&] { return checks_.ControllaVersioneTS() == rt::kTrue; }, goTo(T2), goTo(T8)}},
      {T2, If{[&] { return configurationKeyExists(kTessaro.configurationKey) == rt::kFalse; }, goTo(T3), goTo(T4)}},
      {T3, If{[&] { return configurationKeyExists(kTessaro.limitedConfigurationKey) == rt::kTrue; }, goTo(T4),
              goTo(T9)}},
      {T4, [&] { installFolder = u""; }},
      {T4b, [&] { installFolder = readInstaller(kTessaro); }},
      {T5, If{[&] { return installFolder.empty(); }, goTo(T6), goTo(T6a)}},
      {T6, [&] { installFolder = readInstaller64(kTessaro); }},
      // Neither view holds the folder: writing would overwrite a good setting with nothing.
      {T6a, If{[&] { return rt::trimSpaces(installFolder).empty(); }, goTo(T6b), goTo(T7)}},
      {T6b, [&] { tessaroLine = kTessaro.problemLine; }, goTo(T9)},
      {T7, [&] { tessaroLine = kTessaro.successLine; }},
      {T7b, [&] { writeSetting(kTessaro, installFolder); }, goTo(T9)},
      {T8, [&] { tessaroLine = kTessaro.notNeededLine; }},
      // Only a failure passed on by the settings write is still pending here.
      {T9, If{[&] { return state.failurePending(); }, goTo(T9b), goTo(P1)}},
      {T9b, [&] { tessaroLine = kTessaro.problemLine; }},
      {T9c, [&] { state.clear(); }},

      // Perizon
      {P1, If{[&] { return checks_.ControllaVersionePRZN() == rt::kTrue; }, goTo(P2), goTo(P8)}},
      {P2, If{[&] { return configurationKeyExists(kPerizon.configurationKey) == rt::kFalse; }, goTo(P3), goTo(P4)}},
      {P3, If{[&] { return configurationKeyExists(kPerizon.limitedConfigurationKey) == rt::kTrue; }, goTo(P4),
              goTo(P9)}},
      {P4, [&] { installLanguage = readInstaller(kPerizon); }},
      {P5, If{[&] { return installLanguage.empty(); }, goTo(P6), goTo(P6a)}},
      {P6, [&] { installLanguage = readInstaller64(kPerizon); }},
      {P6a, If{[&] { return rt::trimSpaces(installLanguage).empty(); }, goTo(P6b), goTo(P7)}},
      {P6b, [&] { perizonLine = kPerizon.problemLine; }, goTo(P9)},
      {P7, [&] { perizonLine = kPerizon.successLine; }},
      {P7b, [&] { writeSetting(kPerizon, installLanguage); }, goTo(P9)},
      {P8, [&] { perizonLine = kPerizon.notNeededLine; }},
      {P9, If{[&] { return state.failurePending(); }, goTo(P9b), goTo(D1)}},
      {P9b, [&] { perizonLine = kPerizon.problemLine; }},
      {P9c, [&] { state.clear(); }},

      // The results box keeps the previous run's lines until here.
      {D1, [&] { window_.setLblText(u""); }},
      {D2, If{[&] { return !tessaroLine.empty(); }, goTo(D2b), goTo(D3)}},
      {D2b, [&] { window_.setLblText(window_.lblText() + tessaroLine + kLineEnd); }},
      {D3, If{[&] { return !perizonLine.empty(); }, goTo(D3b), goTo(D4)}},
      {D3b, [&] { window_.setLblText(window_.lblText() + perizonLine + kLineEnd); }},
      {D4, [] {}, leave},

      {N1, [&] {
         window_.setBusy(false);
         window_.showCriticalMessage(kNoConnection, kAppTitle);
       }},
      {N2, [&] { window_.Unload(); }},
  });
  window_.setBusy(false);
}

}  // namespace app
