// The hand-off of one failure to the external error-report component.
#pragma once

#include <cstdint>
#include <functional>

#include "errors/error_state.h"
#include "runtime/automation.h"
#include "runtime/variant.h"

namespace errors {

// What the program says about itself in a report.
struct AppIdentity {
  rt::Text path;   // folder of the executable, without a trailing backslash
  rt::Text title;  // the application title
  int32_t major = 0;
  int32_t minor = 0;
  int32_t revision = 0;
};

inline constexpr char16_t kReportProgId[] = u"VBGuardReport.clsVBGuardReport";
inline constexpr char16_t kDialogProgId[] = u"myVBGDialog.myCustomDialog";

// The program's one global variable. Nothing assigns it; the reports list it.
extern rt::Text chiave;

class modVBGuard : public ErrorReporter {
 public:
  using Clock = std::function<rt::OleDate()>;  // the current local date and time

  modVBGuard(ErrorState& state, rt::Automation& automation, AppIdentity app, Clock now);

  // Describes the pending failure to a new report component and returns its decision. Has no
  // handler of its own: a failure ends it where it happens, without restoring the record.
  int32_t HandleError(const rt::Text& moduleName, const rt::Text& procedureName) override;

  // False (0) saves the record's five fields; any other value writes them back.
  void SaveRestoreErr(const int16_t& restore);
  void SetGlobalVariables();

 private:
  rt::Variant reportDescription(const rt::Text& moduleName, const rt::Text& procedureName) const;
  static rt::Variant userData();

  ErrorState& state_;
  rt::Automation& automation_;
  AppIdentity app_;
  Clock now_;

  rt::ErrorRecord m_savedError;  // the record as it was when the report began
  int32_t m_lngLastAction = 0;
};

}  // namespace errors
