#include "runtime/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fakes/printing.h"
#include "runtime/number_format.h"
#include "runtime/runtime_error.h"

using rt::Kind;
using rt::Variant;

namespace {

constexpr rt::NumberFormat kEnglish{u'.', u','};
constexpr rt::NumberFormat kItalian{u',', u'.'};

int32_t errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const rt::RuntimeError& failure) {
    return failure.number();
  }
  return 0;
}

TEST(ToText, GivesDigitsForIntegersAndNothingForEmpty) {
  EXPECT_EQ(rt::toText(Variant()), u"");
  EXPECT_EQ(rt::toText(Variant(int32_t{-1})), u"-1");
  EXPECT_EQ(rt::toText(Variant(int16_t{32767})), u"32767");
  EXPECT_EQ(rt::toText(Variant(int32_t{-2147483647 - 1})), u"-2147483648");
  EXPECT_EQ(rt::toText(Variant(u"C:\\Apps")), u"C:\\Apps");
  EXPECT_EQ(rt::toText(Variant(5.0)), u"5");
  EXPECT_EQ(rt::toText(Variant(rt::OleDate{2.5})), u"01/01/1900 12:00:00");
  // A negative date counts days back; its fraction is still the time after midnight.
  EXPECT_EQ(rt::toText(Variant(rt::OleDate{-1.25})), u"29/12/1899 06:00:00");
  EXPECT_EQ(rt::toText(Variant(rt::OleDate{-657434})), u"01/01/0100 00:00:00");
  EXPECT_EQ(rt::toText(Variant(rt::OleDate{2958465.99})), u"31/12/9999 23:45:36");
}

TEST(ToText, RaisesInvalidUseOfNullAndTypeMismatch) {
  EXPECT_EQ(errorOf([] { rt::toText(Variant::null()); }), rt::kInvalidUseOfNull);
  EXPECT_EQ(errorOf([] { rt::toText(Variant::array({})); }), rt::kTypeMismatch);
  EXPECT_EQ(errorOf([] { rt::toText(Variant::nothing()); }), rt::kTypeMismatch);
  for (double outOfRange : {2958466.0, -657435.0, 2958465.9999999, std::nan(""), 1e300})
    EXPECT_EQ(errorOf([=] { rt::toText(Variant(rt::OleDate{outOfRange})); }), rt::kInvalidProcedureCall) << outOfRange;
}

TEST(ToText, WritesFractionsWithTheLocaleDecimalSeparator) {
  {
    rt::ScopedNumberFormat italian(kItalian);
    EXPECT_EQ(rt::toText(Variant(2.5)), u"2,5");
  }
  EXPECT_EQ(rt::toText(Variant(2.5)), u"2.5");
  EXPECT_EQ(rt::toText(Variant(1e16)), u"1E+16");
}

struct LongCase {
  const char16_t* text;
  int32_t expected;  // value, or the error number when `fails`
  bool fails;
};

TEST(ToLong, ReadsTextRoundsHalfToEvenAndRaisesOnOverflowOrNonNumbers) {
  rt::ScopedNumberFormat english(kEnglish);
  const LongCase cases[] = {
      {u"42", 42, false},          {u" -7 ", -7, false},         {u"0.5", 0, false},
      {u"1.5", 2, false},          {u"2.5", 2, false},           {u"-1.5", -2, false},
      {u"1,234", 1234, false},     {u"1e3", 1000, false},        {u"7-", -7, false},
      {u"2147483647", 2147483647, false},
      {u"3000000000", rt::kOverflow, true}, {u"2147483647.5", rt::kOverflow, true},
      {u"abc", rt::kTypeMismatch, true},    {u"", rt::kTypeMismatch, true},
      {u"45 Help", rt::kTypeMismatch, true}, {u"1.2.3", rt::kTypeMismatch, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const LongCase& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + rt::toUtf8(c.text));
    if (c.fails) {
      EXPECT_EQ(errorOf([&] { rt::toLong(Variant(c.text)); }), c.expected);
    } else {
      EXPECT_EQ(rt::toLong(Variant(c.text)), c.expected);
    }
  }
}

TEST(ToLong, ConvertsNumbersAndRaisesForNull) {
  EXPECT_EQ(rt::toLong(Variant(5.0)), 5);
  EXPECT_EQ(rt::toLong(Variant(-2.5)), -2);
  EXPECT_EQ(rt::toLong(Variant()), 0);
  EXPECT_EQ(rt::toLong(Variant::boolean(true)), -1);
  EXPECT_EQ(errorOf([] { rt::toLong(Variant(1e12)); }), rt::kOverflow);
  EXPECT_EQ(errorOf([] { rt::toLong(Variant(std::numeric_limits<double>::quiet_NaN())); }), rt::kOverflow);
  EXPECT_EQ(errorOf([] { rt::toLong(Variant::null()); }), rt::kInvalidUseOfNull);
}

TEST(ToLong, ReadsTheLocaleSeparators) {
  rt::ScopedNumberFormat italian(kItalian);
  EXPECT_EQ(rt::toLong(Variant(u"2.5")), 25);  // "." groups digits in Italian
  EXPECT_EQ(rt::toLong(Variant(u"2,5")), 2);
  EXPECT_EQ(rt::toLong(Variant(u"1.234.567")), 1234567);
}

TEST(IsNumeric, AcceptsWholeNumbersInTheUserLocaleOnly) {
  struct Case {
    rt::NumberFormat format;
    const char16_t* text;
    bool numeric;
  };
  const Case cases[] = {
      {kEnglish, u"12", true},      {kEnglish, u" -7 ", true},     {kEnglish, u"3000000000", true},
      {kEnglish, u"1e3", true},     {kEnglish, u"1,5", true},      {kEnglish, u"2.5", true},
      {kEnglish, u"", false},       {kEnglish, u"   ", false},     {kEnglish, u"C:\\Apps", false},
      {kEnglish, u"45 Help", false}, {kEnglish, u"Italiano", false}, {kEnglish, u"-", false},
      {kEnglish, u"1e", false},     {kEnglish, u",5", false},
      {kItalian, u"2,5", true},     {kItalian, u"1.234", true},    {kItalian, u"1.234,5", true},
      {kItalian, u"2,5,1", false},  {kItalian, u"D:\\Apps\\Tool", false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + rt::toUtf8(c.text));
    rt::ScopedNumberFormat format(c.format);
    EXPECT_EQ(rt::isNumeric(Variant(c.text)), c.numeric);
  }
  EXPECT_TRUE(rt::isNumeric(Variant(int32_t{3})));
  EXPECT_FALSE(rt::isNumeric(Variant::null()));
}

TEST(LeadingNumber, NeverFailsAndReadsOnlyTheLeadingNumber) {
  struct Case {
    const char16_t* text;
    double expected;
  };
  const Case cases[] = {
      {u"", 0},      {u"abc", 0},     {u"2 2", 22},   {u"22a", 22},   {u"1e3", 1000},
      {u"-4.5", -4.5}, {u"02", 2},    {u"a2", 0},     {u"\t1\n0", 10}, {u"1.2.3", 1.2},
      {u"+3", 3},    {u"--3", 0},     {u".5", 0.5},   {u"1e", 1},     {u"3D2", 300},
      {u"2\r3", 2},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + rt::toUtf8(cases[i].text));
    EXPECT_EQ(rt::leadingNumber(cases[i].text), cases[i].expected);
  }
  // A number too large for a double is infinite, not a failure.
  EXPECT_TRUE(std::isinf(rt::leadingNumber(u"1e400")));
}

TEST(Split, KeepsEmptyPartsAndGivesTexts) {
  EXPECT_EQ(rt::split(u"2.1.0", u"."), Variant::array(Kind::String, {u"2", u"1", u"0"}));
  EXPECT_EQ(rt::split(u"a..b", u"."), Variant::array(Kind::String, {u"a", u"", u"b"}));
  EXPECT_EQ(rt::split(u".", u"."), Variant::array(Kind::String, {u"", u""}));
  const Variant none = rt::split(u"", u".");
  EXPECT_TRUE(none.asArray().allocated);
  EXPECT_TRUE(none.asArray().elements.empty());
}

TEST(Element, RaisesSubscriptOutOfRangeOutsideTheBounds) {
  const Variant parts = rt::split(u"2.1.0", u".");
  EXPECT_EQ(rt::element(parts, 2), Variant(u"0"));
  EXPECT_EQ(errorOf([&] { rt::element(parts, 3); }), rt::kSubscriptOutOfRange);
  EXPECT_EQ(errorOf([&] { rt::element(parts, -1); }), rt::kSubscriptOutOfRange);
  EXPECT_EQ(errorOf([] { rt::element(Variant::unallocatedArray(Kind::String), 0); }), rt::kSubscriptOutOfRange);
}

TEST(FindText, IsExactAndCaseSensitive) {
  EXPECT_EQ(rt::findText(u"ok", u"ok"), 1);
  EXPECT_EQ(rt::findText(u"book", u"ok"), 3);
  EXPECT_EQ(rt::findText(u"OK", u"ok"), 0);
  EXPECT_EQ(rt::findText(u"", u"ok"), 0);
}

TEST(TrimSpaces, RemovesOnlySpaces) {
  EXPECT_EQ(rt::trimSpaces(u" D:\\Apps\\Tool "), u"D:\\Apps\\Tool");
  EXPECT_EQ(rt::trimSpaces(u"   "), u"");
  EXPECT_EQ(rt::trimSpaces(u"\tx\t"), u"\tx\t");
}

TEST(ToInteger, OverflowsPast32767) {
  EXPECT_EQ(rt::toInteger(32767), 32767);
  EXPECT_EQ(errorOf([] { rt::toInteger(32768); }), rt::kOverflow);
}

TEST(Utf8, RoundTripsOutsideTheBasicPlane) {
  const rt::Text text = u"Łódź \U0001F600 Ωμέγα";
  EXPECT_EQ(rt::fromUtf8(rt::toUtf8(text)), text);
}

}  // namespace
