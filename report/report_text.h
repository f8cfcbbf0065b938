// The report as the window shows it: plain text, values written the way a developer reads them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace vbgreport {

// Texts in quotes when `quoteText` (in variable lists), dates as local date and time, arrays as
// [a, b], Null, Nothing, objects by their type name, "(non allocato)" for an array never
// allocated. Long texts are cut short, and a list shows its first 100 elements, then "...".
std::wstring displayValue(const VARIANT& value, bool quoteText);

struct ReportContent {
  const VARIANT& description;  // label/value pairs
  const std::wstring& appPath;
  const std::wstring& appTitle;
  const VARIANT& userData;     // family name, support address, developer name, maker
  const VARIANT* variableLists[4];  // parameters, locals, module variables, global variables
};

std::wstring reportText(const ReportContent& content);
std::wstring reportCaption(const std::wstring& appTitle);

}  // namespace vbgreport
