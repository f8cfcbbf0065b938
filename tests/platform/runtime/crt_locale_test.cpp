// The conversions in a process where another module has switched the C runtime's locale to one
// with a decimal comma (setlocale is process-wide in msvcrt): what they read and write follows
// the user's separators and nothing else.
#include <gtest/gtest.h>

#include <clocale>

#include "runtime/conversions.h"
#include "runtime/number_format.h"
#include "runtime/variant.h"

namespace {

class ItalianRuntimeLocale : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "Italian"), nullptr); }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(ItalianRuntimeLocale, NumbersFollowTheUsersSeparatorsOnly) {
  struct Case {
    rt::NumberFormat user;
    const char16_t* fraction;     // 1.5 as the user writes it
    const char16_t* twoAndAHalf;  // CStr(2.5)
  };
  const Case cases[] = {
      {{u'.', u','}, u"1.5", u"2.5"},
      {{u',', u'.'}, u"1,5", u"2,5"},
  };
  for (const Case& c : cases) {
    const rt::ScopedNumberFormat format(c.user);
    SCOPED_TRACE(testing::Message() << "decimal separator " << static_cast<char>(c.user.decimalSeparator));
    EXPECT_TRUE(rt::isNumeric(rt::Variant(c.fraction)));
    EXPECT_EQ(rt::toLong(rt::Variant(c.fraction)), 2) << "1.5 rounds to the even 2";
    EXPECT_EQ(rt::leadingNumber(u"2.5.1"), 2.5) << "Val reads a point whatever the locales";
    EXPECT_EQ(rt::toText(rt::Variant(2.5)), c.twoAndAHalf);
  }
}

}  // namespace
