// The user's number separators. The numeric test and the conversion to an integer read numbers
// the way the user's locale writes them; the platform layer installs the separators at start-up.
#pragma once

namespace rt {

struct NumberFormat {
  char16_t decimalSeparator = u'.';
  char16_t groupSeparator = u',';
};

const NumberFormat& userNumberFormat();
void setUserNumberFormat(NumberFormat format);

// Installs a number format for the lifetime of the object (tests).
class ScopedNumberFormat {
 public:
  explicit ScopedNumberFormat(NumberFormat format) : saved_(userNumberFormat()) { setUserNumberFormat(format); }
  ~ScopedNumberFormat() { setUserNumberFormat(saved_); }
  ScopedNumberFormat(const ScopedNumberFormat&) = delete;
  ScopedNumberFormat& operator=(const ScopedNumberFormat&) = delete;

 private:
  NumberFormat saved_;
};

}  // namespace rt
