#include "runtime/conversions.h"

#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "runtime/number_format.h"
#include "runtime/runtime_error.h"

namespace rt {

namespace {

NumberFormat g_numberFormat;

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

// strtod and printf read and write the decimal point of the C runtime's locale, and that is
// the whole process's: any module loaded into it (a report component, say) may set another.
// Numbers cross to and from them with the point they use at that moment.
std::string runtimeDecimalPoint() {
  const char* point = std::localeconv()->decimal_point;
  return point && *point ? point : ".";
}

// A number written in C notation, with '.' as its decimal point.
double fromCNotation(std::string c) {
  if (const size_t point = c.find('.'); point != std::string::npos)
    c = c.substr(0, point).append(runtimeDecimalPoint()).append(c, point + 1);
  return std::strtod(c.c_str(), nullptr);
}

// Reads a whole text as a number the way the user's locale writes it; nullopt when it is not
// one. The digits are collected in C notation.
std::optional<double> parseLocaleNumber(TextView text) {
  const NumberFormat& format = g_numberFormat;
  size_t i = 0;
  const size_t n = text.size();
  auto skipBlanks = [&] {
    while (i < n && isBlank(text[i])) ++i;
  };

  std::string c;
  skipBlanks();
  bool signSeen = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') c += '-';
    signSeen = true;
    ++i;
  }

  int digits = 0;
  while (i < n) {
    if (isDigit(text[i])) {
      c += static_cast<char>(text[i]);
      ++digits;
    } else if (text[i] == format.groupSeparator && digits > 0 && format.groupSeparator != format.decimalSeparator) {
      // group separators may stand between the digits of the whole part
    } else {
      break;
    }
    ++i;
  }
  if (i < n && text[i] == format.decimalSeparator) {
    c += '.';
    ++i;
    while (i < n && isDigit(text[i])) {
      c += static_cast<char>(text[i]);
      ++digits;
      ++i;
    }
  }
  if (digits == 0) return std::nullopt;

  if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (text[j] == u'+' || text[j] == u'-')) exponent += static_cast<char>(text[j++]);
    if (j >= n || !isDigit(text[j])) return std::nullopt;
    while (j < n && isDigit(text[j])) exponent += static_cast<char>(text[j++]);
    c += exponent;
    i = j;
  }

  if (!signSeen && i < n && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') c.insert(c.begin(), '-');
    ++i;
  }
  skipBlanks();
  if (i != n) return std::nullopt;
  return fromCNotation(c);
}

int32_t roundToLong(double value) {
  // Half to even, as the default floating-point rounding mode does.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) raise(kOverflow);
  return static_cast<int32_t>(rounded);
}

Text asciiText(const std::string& s) { return Text(s.begin(), s.end()); }

Text doubleToText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string s = buffer;
  const std::string point = runtimeDecimalPoint();
  if (const size_t at = s.find(point); point != "." && at != std::string::npos)
    s = s.substr(0, at).append(".").append(s, at + point.size());
  // %G keeps no trailing zeros in the fraction but writes the exponent with two digits at
  // least; the runtime writes "1E+16".
  const size_t e = s.find('E');
  if (e != std::string::npos) {
    size_t digitsAt = e + 2;
    while (digitsAt + 1 < s.size() && s[digitsAt] == '0') s.erase(digitsAt, 1);
  }
  Text out = asciiText(s);
  for (char16_t& ch : out)
    if (ch == u'.') ch = g_numberFormat.decimalSeparator;
  return out;
}

// The first and last days an OLE date can name: 1 January 100 and 31 December 9999.
constexpr double kFirstDay = -657434;
constexpr double kLastDay = 2958465;

Text dateToText(OleDate date) {
  // The whole part counts days from 30 December 1899, back for a negative date; the fraction is
  // the time after midnight of that day, whatever the sign. Rounded to the second, 24:00 is the
  // next day's midnight.
  if (!(date.value > kFirstDay - 1 && date.value < kLastDay + 1)) raise(kInvalidProcedureCall);
  double days = std::trunc(date.value);
  long seconds = std::lround(std::fabs(date.value - days) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  if (days > kLastDay) raise(kInvalidProcedureCall);  // the last day's last half second, rounded up
  // Civil date from a day count (Howard Hinnant's algorithm), epoch moved to 1899-12-30.
  long z = static_cast<long>(days) - 25569 + 719468;  // 1970-01-01 is day 25569
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long day = doy - (153 * mp + 2) / 5 + 1;
  const long month = mp < 10 ? mp + 3 : mp - 9;
  const long year = yoe + era * 400 + (month <= 2);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%02ld/%02ld/%04ld %02ld:%02ld:%02ld", day, month, year, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return asciiText(buffer);
}

}  // namespace

const NumberFormat& userNumberFormat() { return g_numberFormat; }
void setUserNumberFormat(NumberFormat format) { g_numberFormat = format; }

Text toText(const Variant& value) {
  switch (value.kind()) {
    case Kind::Empty: return u"";
    case Kind::Null: raise(kInvalidUseOfNull);
    case Kind::Integer: return asciiText(std::to_string(value.asInteger()));
    case Kind::Long: return asciiText(std::to_string(value.asLong()));
    case Kind::Double: return doubleToText(value.asDouble());
    case Kind::Date: return dateToText(value.asDate());
    case Kind::Boolean: return value.asBoolean() ? u"True" : u"False";
    case Kind::String: return value.asText();
    default: raise(kTypeMismatch);
  }
}

int32_t toLong(const Variant& value) {
  switch (value.kind()) {
    case Kind::Empty: return 0;
    case Kind::Null: raise(kInvalidUseOfNull);
    case Kind::Integer: return value.asInteger();
    case Kind::Long: return value.asLong();
    case Kind::Double: return roundToLong(value.asDouble());
    case Kind::Date: return roundToLong(value.asDate().value);
    case Kind::Boolean: return value.asBoolean() ? -1 : 0;
    case Kind::String: {
      const std::optional<double> number = parseLocaleNumber(value.asText());
      if (!number) raise(kTypeMismatch);
      return roundToLong(*number);
    }
    default: raise(kTypeMismatch);
  }
}

int16_t toInteger(int32_t value) {
  if (value < -32768 || value > 32767) raise(kOverflow);
  return static_cast<int16_t>(value);
}

bool isNumeric(const Variant& value) {
  switch (value.kind()) {
    case Kind::Empty:  // an uninitialised value counts as the number 0
    case Kind::Integer:
    case Kind::Long:
    case Kind::Double:
    case Kind::Boolean: return true;
    case Kind::String: return parseLocaleNumber(value.asText()).has_value();
    default: return false;
  }
}

double leadingNumber(TextView text) {
  Text compact;
  // Blanks, tabs and line feeds go wherever they are; a carriage return ends the number.
  for (char16_t c : text)
    if (c != u' ' && c != u'\t' && c != u'\n') compact += c;

  std::string c;
  size_t i = 0;
  const size_t n = compact.size();
  if (i < n && (compact[i] == u'+' || compact[i] == u'-')) c += static_cast<char>(compact[i++]);
  bool digits = false;
  while (i < n && isDigit(compact[i])) {
    c += static_cast<char>(compact[i++]);
    digits = true;
  }
  if (i < n && compact[i] == u'.') {
    c += '.';
    ++i;
    while (i < n && isDigit(compact[i])) {
      c += static_cast<char>(compact[i++]);
      digits = true;
    }
  }
  if (!digits) return 0;
  if (i < n && (compact[i] == u'e' || compact[i] == u'E' || compact[i] == u'd' || compact[i] == u'D')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (compact[j] == u'+' || compact[j] == u'-')) exponent += static_cast<char>(compact[j++]);
    if (j < n && isDigit(compact[j])) {
      while (j < n && isDigit(compact[j])) exponent += static_cast<char>(compact[j++]);
      c += exponent;
    }
  }
  return fromCNotation(c);
}

Variant split(TextView text, TextView delimiter) {
  std::vector<Variant> parts;
  if (!text.empty()) {
    size_t start = 0;
    for (;;) {
      const size_t at = delimiter.empty() ? TextView::npos : text.find(delimiter, start);
      if (at == TextView::npos) {
        parts.emplace_back(text.substr(start));
        break;
      }
      parts.emplace_back(text.substr(start, at - start));
      start = at + delimiter.size();
    }
  }
  return Variant::array(Kind::String, std::move(parts));
}

int32_t findText(TextView haystack, TextView needle) {
  const size_t at = haystack.find(needle);
  return at == TextView::npos ? 0 : static_cast<int32_t>(at + 1);
}

Text trimSpaces(TextView text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == TextView::npos) return u"";
  const size_t last = text.find_last_not_of(u' ');
  return Text(text.substr(first, last - first + 1));
}

const Variant& element(const Variant& array, int32_t index) {
  if (array.kind() != Kind::Array) raise(kTypeMismatch);
  const ArrayData& data = array.asArray();
  if (!data.allocated || index < 0 || static_cast<size_t>(index) >= data.elements.size()) raise(kSubscriptOutOfRange);
  return data.elements[static_cast<size_t>(index)];
}

}  // namespace rt
