// Form1: the utility's only window. Its two event procedures are the restore run (OK) and the
// close ("Chiudi"); the window itself lives in the platform layer behind Form1Window.
#pragma once

#include "checks/environment_checks.h"
#include "errors/error_state.h"
#include "registry/modRegistro.h"

namespace app {

inline constexpr char16_t kAppTitle[] = u"PatchQUADRELL-Windows10";

// What the window offers its procedures.
class Form1Window {
 public:
  virtual ~Form1Window() = default;
  // The whole text of the results box `lbl`.
  virtual rt::Text lblText() = 0;
  virtual void setLblText(const rt::Text& text) = 0;
  // Closes the window; it being the only one, the utility ends.
  virtual void Unload() = 0;
  // A modal message box owned by the window: critical icon, one OK button.
  virtual void showCriticalMessage(const rt::Text& text, const rt::Text& caption) = 0;
  // The wait cursor while a run is in progress.
  virtual void setBusy(bool busy) = 0;
};

class Form1 : public errors::Module {
 public:
  Form1(errors::Protocol protocol, Form1Window& window, registry::modRegistro& registry,
        checks::EnvironmentChecks& checks);

  rt::TextView moduleName() const override { return u"Form1"; }
  // The window has no module-level variables.
  void SetModuleVariables() override;

  // The restore run: connectivity, then for Tessaro and Perizon the version gate, the
  // configuration keys and the copy of one setting, then one outcome line per product.
  void cmdOk_Click();
  void cmdAnnulla_Click();

 private:
  errors::Protocol protocol_;
  Form1Window& window_;
  registry::modRegistro& registry_;
  checks::EnvironmentChecks& checks_;
};

}  // namespace app
