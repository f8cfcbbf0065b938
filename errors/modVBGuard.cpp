#include "errors/modVBGuard.h"

#include <string>
#include <utility>

#include "runtime/conversions.h"

namespace errors {

rt::Text chiave;

namespace {

constexpr char16_t kBuildNumber[] = u"50";

constexpr char16_t kFamilyName[] = u"Quadrell";
constexpr char16_t kSupportAddress[] = u"assistenza@okran.example";
constexpr char16_t kDeveloperName[] = u"Reparto sviluppo OKRAN";
constexpr char16_t kMakerName[] = u"OKRAN";

rt::Text decimal(int32_t value) { return rt::toText(rt::Variant(value)); }

}  // namespace

modVBGuard::modVBGuard(ErrorState& state, rt::Automation& automation, AppIdentity app, Clock now)
    : state_(state), automation_(automation), app_(std::move(app)), now_(std::move(now)) {}

int32_t modVBGuard::HandleError(const rt::Text& moduleName, const rt::Text& procedureName) {
  SaveRestoreErr(rt::kFalse);

  const rt::ObjectRef report = automation_.createObject(kReportProgId);
  report->putRef(u"CustomDialog", automation_.createObject(kDialogProgId));

  SetGlobalVariables();

  report->put(u"ErrDescription", reportDescription(moduleName, procedureName));
  report->put(u"AppPath", app_.path);
  report->put(u"AppTitle", app_.title);
  report->put(u"UserData", userData());

  ErrorContext& context = state_.context;
  report->call(u"SetVariables", {rt::Argument::byRef(context.parameters), rt::Argument::byRef(context.locals),
                                 rt::Argument::byRef(context.moduleVariables),
                                 rt::Argument::byRef(context.globalVariables)});

  m_lngLastAction = report->callForLong(u"ReportError");

  SaveRestoreErr(rt::kTrue);
  return m_lngLastAction;
}

void modVBGuard::SaveRestoreErr(const int16_t& restore) {
  if (restore == rt::kFalse) {
    m_savedError = state_.record;
  } else {
    state_.record = m_savedError;
  }
}

void modVBGuard::SetGlobalVariables() {
  state_.context.globalVariables = rt::nameValueList({{u"chiave", chiave}});
}

rt::Variant modVBGuard::reportDescription(const rt::Text& moduleName, const rt::Text& procedureName) const {
  rt::Text version = decimal(app_.major);
  for (int32_t part : {app_.minor, app_.revision}) version += u'.' + decimal(part);
  return rt::Variant::array({
      u"Numero errore      ", state_.record.number,
      u"Descrizione       ", state_.record.description,
      u"Versione software ", version,
      u"Build numero      ", kBuildNumber,
      u"Nome Modulo       ", moduleName,
      u"Nome procedura    ", procedureName,
      u"Numero riga       ", state_.failureLine,
      u"Data e ora        ", now_(),
  });
}

rt::Variant modVBGuard::userData() {
  return rt::Variant::array({kFamilyName, kSupportAddress, kDeveloperName, kMakerName});
}

}  // namespace errors
