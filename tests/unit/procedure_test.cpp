#include "errors/procedure.h"

#include <gtest/gtest.h>

#include "fakes/printing.h"
#include "fakes/scripted_reporter.h"
#include "runtime/conversions.h"

using errors::Body;
using errors::goTo;
using errors::leave;
using errors::nextStatement;
using errors::If;
using errors::Select;
using rt::Variant;

namespace {

class ProcedureTest : public ::testing::Test {
 protected:
  errors::ErrorState state;
  fakes::ScriptedReporter reporter{state};
  fakes::TestModule module{state, u"modTest"};
  errors::Protocol protocol{state, reporter};

  errors::Procedure procedure(rt::TextView name, errors::Procedure::Lister locals = rt::emptyList) {
    return errors::Procedure(protocol, module, name, rt::emptyList, std::move(locals));
  }
};

[[noreturn]] void fail(int32_t number) { rt::raise(number); }

TEST_F(ProcedureTest, EntryClearsAPendingFailure) {
  state.record = {13, u"old", u"x", u"", 0};
  auto p = procedure(u"Empty");
  p.run({{100, [] {}}});
  EXPECT_FALSE(state.failurePending());
}

TEST_F(ProcedureTest, PassOnRaisesTheRestoredRecordInTheCaller) {
  reporter.answer({errors::kPassOn});
  const rt::ErrorRecord original{-2147217406, u"Classe non valida", u"SWbemLocator", u"help.chm", 7};
  int32_t after = 0;
  auto p = procedure(u"Passes");
  try {
    p.run({
        {100, [&] { throw rt::RuntimeError(original); }},
        {101, [&] { after = 1; }},
    });
    FAIL() << "the failure was not passed on";
  } catch (const rt::RuntimeError& passedOn) {
    EXPECT_EQ(passedOn.record(), original);
  }
  EXPECT_EQ(after, 0);
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].record, original);
  EXPECT_EQ(reporter.reports[0].line, 100);
}

TEST_F(ProcedureTest, RetryRunsTheStatementAgainWithOneReportPerAttempt) {
  reporter.answer({errors::kRetry, errors::kRetry, errors::kRetry});
  int attempts = 0;
  int32_t result = 0;
  auto p = procedure(u"Retries");
  p.run({
      {100, [&] { result = 1; }},
      {102, [&] {
         if (++attempts < 4) fail(rt::kOverflow);
         result = 2;
       }},
  });
  EXPECT_EQ(attempts, 4);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(reporter.reports.size(), 3u);
  for (const fakes::Report& report : reporter.reports) EXPECT_EQ(report.line, 102);
  EXPECT_FALSE(state.failurePending());
}

TEST_F(ProcedureTest, SkipContinuesAfterTheStatementAndAFailingTestAtItsSkipTarget) {
  reporter.answer({errors::kSkip, errors::kSkip});
  std::vector<int> ran;
  auto mark = [&](int line) { return [&ran, line] { ran.push_back(line); }; };
  auto p = procedure(u"Skips");
  p.run({
      {100, [&] { fail(rt::kTypeMismatch); }},
      {101, mark(101)},
      {102, If{[]() -> bool { fail(rt::kSubscriptOutOfRange); }, leave, leave, goTo(105)}},
      {103, mark(103)},
      {105, mark(105)},
      {106, mark(106), leave},
      {107, mark(107)},
  });
  EXPECT_EQ(ran, (std::vector<int>{101, 105, 106}));
  EXPECT_EQ(reporter.reports.size(), 2u);
}

TEST_F(ProcedureTest, AnyOtherActionLeavesWithTheResultAsItStands) {
  for (int32_t action : {0, 1, 2, 6, 7}) {
    SCOPED_TRACE("action " + std::to_string(action));
    reporter.answer({action});
    int16_t result = rt::kFalse;
    bool ranAfter = false;
    auto p = procedure(u"Leaves");
    p.run({
        {100, [&] { result = rt::kTrue; }},
        {101, [&] { fail(rt::kInvalidProcedureCall); }},
        {102, [&] { ranAfter = true; }},
    });
    EXPECT_EQ(result, rt::kTrue);
    EXPECT_FALSE(ranAfter);
    EXPECT_FALSE(state.failurePending());
  }
}

TEST_F(ProcedureTest, TheHandlerStoresBothListsAndTheModuleListBeforeReporting) {
  reporter.answer({errors::kSkip});
  int32_t lngCount = 3;
  rt::Text strName = u"abc";
  errors::Procedure p(
      protocol, module, u"Lists",
      [&] { return rt::nameValueList({{u"lngCount", lngCount}}); },
      [&] { return rt::nameValueList({{u"strName", strName}}); });
  p.run({
      {100, [&] { strName = u"changed"; }},
      {101, [&] { fail(rt::kOverflow); }},
  });
  ASSERT_EQ(reporter.reports.size(), 1u);
  const fakes::Report& report = reporter.reports[0];
  EXPECT_EQ(report.moduleName, u"modTest");
  EXPECT_EQ(report.procedureName, u"Lists");
  EXPECT_EQ(report.context.parameters, Variant::array({u"lngCount", int32_t{3}}));
  EXPECT_EQ(report.context.locals, Variant::array({u"strName", u"changed"}));
  EXPECT_EQ(report.context.moduleVariables, Variant::array({u"calls", int32_t{1}}));
}

TEST_F(ProcedureTest, ASecondFailureElsewhereRewritesEverySlot) {
  reporter.answer({errors::kSkip, errors::kSkip});
  errors::Procedure first(protocol, module, u"First", [] { return rt::nameValueList({{u"a", int32_t{1}}}); },
                          [] { return rt::nameValueList({{u"b", int32_t{2}}}); });
  first.run({{100, [] { fail(rt::kOverflow); }}});
  auto second = procedure(u"Second");
  second.run({{100, [] { fail(rt::kTypeMismatch); }}});
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].context.parameters, rt::emptyList());
  EXPECT_EQ(reporter.reports[1].context.locals, rt::emptyList());
  EXPECT_EQ(reporter.reports[1].context.moduleVariables, Variant::array({u"calls", int32_t{2}}));
  EXPECT_EQ(reporter.reports[1].record.number, rt::kTypeMismatch);
}

TEST_F(ProcedureTest, AFailureWhileHandlingPassesToTheCallerUnhandled) {
  module.fail = [] { fail(rt::kOutOfMemory); };
  int attempts = 0;
  auto p = procedure(u"HandlerFails");
  try {
    p.run({{100, [&] {
              ++attempts;
              fail(rt::kOverflow);
            }}});
    FAIL() << "the handler's own failure was swallowed";
  } catch (const rt::RuntimeError& failure) {
    EXPECT_EQ(failure.number(), rt::kOutOfMemory);
  }
  EXPECT_EQ(attempts, 1);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(ProcedureTest, ACalleeThatPassesOnFailsTheCallingStatement) {
  reporter.answer({errors::kPassOn, errors::kSkip});
  auto callee = [&] {
    auto p = procedure(u"Callee");
    p.run({{100, [] {}}, {101, [] { fail(rt::kSubscriptOutOfRange); }}});
  };
  auto caller = procedure(u"Caller");
  caller.run({{100, [] {}}, {104, callee}, {105, [] {}}});
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].procedureName, u"Caller");
  EXPECT_EQ(reporter.reports[1].record.number, rt::kSubscriptOutOfRange);
  EXPECT_EQ(reporter.reports[1].line, 104);
}

TEST_F(ProcedureTest, ARecoveryStretchTakesTheFirstFailureAndPassesOnTheNext) {
  std::vector<int> ran;
  auto body = [&](int failuresInRecovery) {
    return Body{
        {100, [&] { ran.push_back(100); }},
        {120, errors::OnErrorGoTo{130}},
        {122, [] { fail(-2147012889); }},
        {124, [&] { ran.push_back(124); }, leave},
        {130, [&, remaining = failuresInRecovery]() mutable {
           ran.push_back(130);
           EXPECT_TRUE(state.failurePending());
           if (remaining-- > 0) fail(rt::kFileNotFound);
         }},
    };
  };

  auto once = procedure(u"Recovers");
  once.run(body(0));
  EXPECT_EQ(ran, (std::vector<int>{100, 130}));
  EXPECT_FALSE(state.failurePending()) << "ending normally leaves no failure pending";

  auto twice = procedure(u"Recovers");
  EXPECT_THROW(twice.run(body(1)), rt::RuntimeError);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST(StatementList, AMistypedLabelFailsWhenTheListIsBuiltAndIsNamed) {
  const struct {
    const char* name;
    std::function<Body()> build;
  } cases[] = {
      {"successor", [] { return Body{{100, [] {}}, {101, [] {}, goTo(999)}}; }},
      {"branch taken", [] { return Body{{100, [] {}}, {101, If{[] { return true; }, goTo(999), leave}}}; }},
      {"branch not taken", [] { return Body{{100, [] {}}, {101, If{[] { return true; }, leave, goTo(999)}}}; }},
      {"failure branch", [] { return Body{{100, [] {}}, {101, If{[] { return true; }, leave, leave, goTo(999)}}}; }},
      {"case", [] { return Body{{100, [] {}}, {101, Select{[] { return 1; }, {{1, leave}, {2, goTo(999)}}, leave}}}; }},
      {"case else", [] { return Body{{100, [] {}}, {101, Select{[] { return 1; }, {{1, leave}}, goTo(999)}}}; }},
      {"recovery", [] { return Body{{100, [] {}}, {101, errors::OnErrorGoTo{999}}}; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.build();
      ADD_FAILURE() << "the list was built";
    } catch (const std::invalid_argument& mistyped) {
      EXPECT_STREQ(mistyped.what(), "statement 101 goes to 999, which no statement carries");
    }
  }
}

TEST(SkippingFailures, KeepsTheFailureAndEntersTheBranchWrittenFirst) {
  errors::ErrorState state;
  state.record = {5, u"stale", u"", u"", 0};
  enum { S1 = 1, T1, T2, T3, T9, N1 };
  std::vector<int> ran;
  rt::ErrorRecord seenAtT9;
  errors::runSkippingFailures(state, {
      {S1, If{[]() -> bool { fail(rt::kOverflow); }, goTo(T1), goTo(N1)}},
      {T1, [&] {
         ran.push_back(T1);
         EXPECT_EQ(state.record.number, rt::kOverflow);
       }},
      {T2, [&] { fail(rt::kTypeMismatch); }},
      {T3, [&] { ran.push_back(T3); }, goTo(T9)},
      {N1, [&] { ran.push_back(N1); }},
      {T9, [&] { seenAtT9 = state.record; }},
  });
  EXPECT_EQ(ran, (std::vector<int>{T1, T3}));
  EXPECT_EQ(seenAtT9.number, rt::kTypeMismatch);
  EXPECT_EQ(state.record.number, rt::kTypeMismatch) << "the mode itself never clears a failure";
}

TEST(SkippingFailures, StartsWithAClearRecord) {
  errors::ErrorState state;
  state.record = {5, u"stale", u"", u"", 0};
  bool pending = true;
  errors::runSkippingFailures(state, {{1, [&] { pending = state.failurePending(); }}});
  EXPECT_FALSE(pending);
}

TEST(SkippingFailures, TurnsMemoryExhaustionIntoErrorSeven) {
  errors::ErrorState state;
  errors::runSkippingFailures(state, {{1, [] { throw std::bad_alloc(); }}});
  EXPECT_EQ(state.record.number, rt::kOutOfMemory);
}

}  // namespace
