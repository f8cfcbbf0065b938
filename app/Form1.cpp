#include "app/Form1.h"

#include "checks/products.h"
#include "errors/procedure.h"
#include "runtime/conversions.h"

namespace app {

using errors::Body;
using errors::goTo;
using errors::If;
using errors::leave;
using errors::Statement;
using registry::kHKeyCurrentUser;
using registry::kHKeyLocalMachine;
using rt::Text;
using rt::Variant;

namespace {

constexpr char16_t kNoConnection[] = u"Non è stata rilevata nessuna connessione Internet";
constexpr char16_t kLineEnd[] = u"\r\n";

// Statement labels of the run: S1; T1 to T9 for Tessaro, P1 to P9 for Perizon (T1 or P1 plus the
// Step); D1 to D4 for the display; N1 and N2 without a connection.
enum Label { S1 = 1, T1 = 10, P1 = 30, D1 = 50, D2, D2b, D3, D3b, D4, N1 = 60, N2 };

// One product's steps. 4b and 7b are the second statements of 4 and 7; 6a and 6b refuse to write
// an empty setting; 7c takes the success line back when the write did not store the value; 9b
// and 9c deal with a pending failure.
enum Step { k1, k2, k3, k4, k4b, k5, k6, k6a, k6b, k7, k7b, k7c, k8, k9, k9b, k9c };
static_assert(int{T1} + k9c < P1 && int{P1} + k9c < D1, "each product's steps keep to their own labels");

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
  Text tessaroLine, installFolder, perizonLine, installLanguage;
  auto userKeyExists = [&](const char16_t* key) { return registry_.regDoes_Key_Exist(kHKeyCurrentUser, key); };
  std::vector<Statement> statements;

  // The same steps for both products, each over its own facts: T1 to T9, P1 to P9. Tessaro's T4
  // empties the folder before reading it; Perizon's language is still empty at P4 in any case.
  // The statements run once this has returned: they hold `gate` by value, the rest by reference.
  auto addSteps = [&](int first, const checks::Product& product, int16_t (checks::EnvironmentChecks::*gate)(),
                      Text& line, Text& setting, int after) {
    const auto at = [&](Step step) { return first + step; };
    const auto to = [&](Step step) { return goTo(first + step); };
    statements.insert(statements.end(), {
        {at(k1), If{[&, gate] { return (checks_.*gate)() == rt::kTrue; }, to(k2), to(k8)}},
        {at(k2), If{[&] { return userKeyExists(product.configurationKey) == rt::kFalse; }, to(k3), to(k4)}},
        {at(k3), If{[&] { return userKeyExists(product.limitedConfigurationKey) == rt::kTrue; }, to(k4), to(k9)}},
        {at(k4), [&] { setting = u""; }},
        // The installer's value from the ordinary registry view, or else from the 64-bit view,
        // where a missing value (Null) fails the conversion and leaves the setting empty.
        {at(k4b), [&] {
           setting = rt::toText(registry_.regQuery_A_Key(kHKeyLocalMachine, product.installerEntry,
                                                         product.installerValue));
         }},
        {at(k5), If{[&] { return setting.empty(); }, to(k6), to(k6a)}},
        {at(k6), [&] {
           setting = rt::toText(registry_.ReadRegStr(Variant(kHKeyLocalMachine), Variant(product.installerEntry),
                                                     Variant(product.installerValue), Variant(int16_t{64})));
         }},
        // Neither view holds the setting: writing would overwrite a good one with nothing.
        {at(k6a), If{[&] { return rt::trimSpaces(setting).empty(); }, to(k6b), to(k7)}},
        {at(k6b), [&] { line = product.problemLine; }, to(k9)},
        {at(k7), [&] { line = product.successLine; }},
        {at(k7b), [&] {
           registry_.regCreate_Key_Value(kHKeyCurrentUser, product.settingsKey, product.settingsValue,
                                         Variant(setting));
         }},
        // The registry refused the key or the value (a read-only settings key, say): the write
        // reports no failure, but nothing was restored.
        {at(k7c), [&] {
           if (!registry_.valueWritten()) line = product.problemLine;
         }, to(k9)},
        {at(k8), [&] { line = product.notNeededLine; }},
        // Still pending here: a failure the settings write passed on (7b), or one left by the
        // 64-bit read (6), the failed conversion of a Null included.
        {at(k9), If{[&] { return state.failurePending(); }, to(k9b), goTo(after)}},
        {at(k9b), [&] { line = product.problemLine; }},
        {at(k9c), [&] { state.clear(); }},
    });
  };
  statements.push_back({S1, If{[&] { return checks_.ControllaConnessioneInternet() != 0; }, goTo(T1), goTo(N1)}});
  addSteps(T1, checks::kTessaro, &checks::EnvironmentChecks::ControllaVersioneTS, tessaroLine, installFolder, P1);
  addSteps(P1, checks::kPerizon, &checks::EnvironmentChecks::ControllaVersionePRZN, perizonLine, installLanguage, D1);
  statements.insert(statements.end(), {
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
  window_.setBusy(true);
  errors::runSkippingFailures(state, Body(std::move(statements)));
  window_.setBusy(false);
}

}  // namespace app
