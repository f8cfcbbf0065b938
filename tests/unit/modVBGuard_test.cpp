#include "errors/modVBGuard.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "errors/procedure.h"
#include "errors/uncaught.h"
#include "fakes/fake_automation.h"
#include "fakes/printing.h"
#include "fakes/scripted_reporter.h"

using rt::CallKind;
using rt::Kind;
using rt::Variant;

namespace {

constexpr rt::OleDate kNow{46364.5};  // 8 December 2026, noon

class HandleErrorTest : public ::testing::Test {
 protected:
  HandleErrorTest() {
    automation.registerClass(errors::kDialogProgId, nullptr);
    answerReportWith(Variant(int32_t{5}));
    state.record = {rt::kSubscriptOutOfRange, u"Indice non incluso nell'intervallo", u"Project1", u"", 0};
    state.failureLine = 118;
    state.context.parameters = rt::emptyList();
    state.context.locals = rt::nameValueList({{u"Versione", u"2.1.0"}});
    state.context.moduleVariables = rt::nameValueList({{u"m_lngRetVal", int32_t{0}}});
  }

  void answerReportWith(Variant answer) {
    automation.registerClass(errors::kReportProgId, [this, answer](const fakes::RecordedCall& call, auto&) {
      if (call.member == u"ReportError") {
        if (duringReport) duringReport();
        return answer;
      }
      return Variant();
    });
  }

  Variant argumentOf(rt::TextView member, size_t index = 0) {
    for (const fakes::RecordedCall& call : automation.callsOn(errors::kReportProgId))
      if (call.member == member) return call.arguments.at(index);
    ADD_FAILURE() << "no call of " << rt::toUtf8(member);
    return Variant();
  }

  errors::ErrorState state;
  fakes::FakeAutomation automation;
  std::function<void()> duringReport;
  errors::modVBGuard guard{state, automation,
                           errors::AppIdentity{u"C:\\Programmi\\Patch", u"PatchQUADRELL-Windows10", 1, 0, 0},
                           [] { return kNow; }};
};

TEST_F(HandleErrorTest, CallsTheReportMembersInOrderAndReturnsItsDecision) {
  EXPECT_EQ(guard.HandleError(u"modRegistro", u"ControllaVersioneTS"), 5);

  const auto calls = automation.callsOn(errors::kReportProgId);
  std::vector<std::pair<rt::Text, CallKind>> seen;
  for (const auto& call : calls) seen.emplace_back(call.member, call.kind);
  const std::vector<std::pair<rt::Text, CallKind>> expected{
      {u"CustomDialog", CallKind::PropertyPutRef}, {u"ErrDescription", CallKind::PropertyPut},
      {u"AppPath", CallKind::PropertyPut},         {u"AppTitle", CallKind::PropertyPut},
      {u"UserData", CallKind::PropertyPut},        {u"SetVariables", CallKind::Method},
      {u"ReportError", CallKind::Method},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(automation.created, (std::vector<rt::Text>{errors::kReportProgId, errors::kDialogProgId}));

  {
    const Variant dialog = argumentOf(u"CustomDialog");
    ASSERT_EQ(dialog.kind(), Kind::Object);
    EXPECT_EQ(static_cast<fakes::FakeObject&>(*dialog.asObject()).name(), errors::kDialogProgId);
  }
  EXPECT_EQ(argumentOf(u"AppPath"), Variant(u"C:\\Programmi\\Patch"));
  EXPECT_EQ(argumentOf(u"AppTitle"), Variant(u"PatchQUADRELL-Windows10"));
}

TEST_F(HandleErrorTest, ReleasesTheReportAndTheDialogObject) {
  guard.HandleError(u"modRegistro", u"ControllaVersioneTS");
  automation.calls.clear();  // the log holds the dialog too
  EXPECT_EQ(automation.stillHeld(), 0);
}

TEST_F(HandleErrorTest, DescribesTheFailureInSixteenPlaces) {
  guard.HandleError(u"modRegistro", u"ControllaVersioneTS");
  const Variant description = argumentOf(u"ErrDescription");
  const Variant expected = Variant::array({
      u"Numero errore      ", int32_t{9},
      u"Descrizione       ", u"Indice non incluso nell'intervallo",
      u"Versione software ", u"1.0.0",
      u"Build numero      ", u"50",
      u"Nome Modulo       ", u"modRegistro",
      u"Nome procedura    ", u"ControllaVersioneTS",
      u"Numero riga       ", int32_t{118},
      u"Data e ora        ", kNow,
  });
  EXPECT_EQ(description, expected);
  const auto& places = description.asArray().elements;
  EXPECT_EQ(places[0].asText().size(), 19u);
  for (size_t label = 2; label < 16; label += 2) EXPECT_EQ(places[label].asText().size(), 18u) << "place " << label;
}

TEST_F(HandleErrorTest, HandsOverTheUserDataAndTheFourSlotsByReference) {
  rt::Text chiaveBefore = errors::chiave;
  guard.HandleError(u"modRegistro", u"ControllaVersioneTS");
  const Variant userData = argumentOf(u"UserData");
  ASSERT_EQ(userData.asArray().elements.size(), 4u);
  EXPECT_EQ(userData.asArray().elements[0], Variant(u"Quadrell"));
  EXPECT_EQ(userData.asArray().elements[3], Variant(u"OKRAN"));
  for (const Variant& place : userData.asArray().elements) EXPECT_EQ(place.kind(), Kind::String);

  const auto calls = automation.callsOn(errors::kReportProgId);
  const auto setVariables = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.member == u"SetVariables"; });
  ASSERT_NE(setVariables, calls.end());
  EXPECT_EQ(setVariables->byRef, (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(setVariables->arguments[0], rt::emptyList());
  EXPECT_EQ(setVariables->arguments[1], Variant::array({u"Versione", u"2.1.0"}));
  EXPECT_EQ(setVariables->arguments[2], Variant::array({u"m_lngRetVal", int32_t{0}}));
  EXPECT_EQ(setVariables->arguments[3], Variant::array({u"chiave", chiaveBefore}));
}

TEST_F(HandleErrorTest, ConvertsTheDecisionByTheAutomationRules) {
  struct Case {
    Variant answer;
    int32_t action;  // or the error number raised
    bool raises;
  };
  const Case cases[] = {
      {Variant(u"4"), 4, false},
      {Variant(5.0), 5, false},
      {Variant(int16_t{3}), 3, false},
      {Variant(u"abc"), rt::kTypeMismatch, true},
      {Variant(1e12), rt::kOverflow, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    answerReportWith(cases[i].answer);
    if (!cases[i].raises) {
      EXPECT_EQ(guard.HandleError(u"Form1", u"cmdAnnulla_Click"), cases[i].action);
      continue;
    }
    try {
      guard.HandleError(u"Form1", u"cmdAnnulla_Click");
      ADD_FAILURE() << "no failure";
    } catch (const rt::RuntimeError& failure) {
      EXPECT_EQ(failure.number(), cases[i].action);
    }
  }
}

TEST_F(HandleErrorTest, GivesTheCallerBackTheRecordItHadWhateverTheComponentDid) {
  const rt::ErrorRecord before = state.record;
  duringReport = [this] { state.record = {440, u"altro", u"componente", u"x.hlp", 3}; };
  guard.HandleError(u"modRegistro", u"regQuery_A_Key");
  EXPECT_EQ(state.record, before);
}

TEST_F(HandleErrorTest, AComponentThatCannotBeCreatedMakesNoReportAndFails) {
  automation.unregisterClass(errors::kReportProgId);
  try {
    guard.HandleError(u"modRegistro", u"regQuery_A_Key");
    FAIL() << "no failure";
  } catch (const rt::RuntimeError& failure) {
    EXPECT_EQ(failure.number(), rt::kCannotCreateObject);
  }
  EXPECT_TRUE(automation.calls.empty());
}

// The whole protocol: a procedure without parameters fails, the real hand-off reports it to the
// fake component, and the component's answer 3 reaches the caller as the original failure.
TEST_F(HandleErrorTest, APassedOnFailureReachesTheCallerUnchanged) {
  answerReportWith(Variant(int32_t{3}));
  fakes::TestModule module{state, u"modRegistro"};
  errors::Protocol protocol{state, guard};
  errors::Procedure gate(protocol, module, u"ControllaVersioneTS", rt::emptyList,
                         [] { return rt::nameValueList({{u"Versione", u"2"}}); });
  const rt::ErrorRecord original{rt::kSubscriptOutOfRange, rt::errorDescription(rt::kSubscriptOutOfRange), u"Project1",
                                 u"", 0};
  try {
    gate.run({{118, [] { rt::raise(rt::kSubscriptOutOfRange); }}});
    FAIL() << "not passed on";
  } catch (const rt::RuntimeError& failure) {
    EXPECT_EQ(failure.record(), original);
  }
  EXPECT_EQ(argumentOf(u"SetVariables", 0), Variant::array({u"Empty"}));
}

TEST(UncaughtFailure, ShowsTheRunTimeErrorMessage) {
  rt::Text shown;
  errors::runEventProcedure([] { rt::raise(rt::kCannotCreateObject); }, [&](const rt::Text& m) { shown = m; });
  EXPECT_EQ(shown, u"Errore di run-time '429':\n\nImpossibile creare l'oggetto del componente ActiveX");

  shown.clear();
  errors::runEventProcedure([] {}, [&](const rt::Text& m) { shown = m; });
  EXPECT_TRUE(shown.empty());
}

}  // namespace
