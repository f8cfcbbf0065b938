// Text inside the utility: counted UTF-16 strings, as Windows and OLE Automation hold them.
#pragma once

#include <string>
#include <string_view>

namespace rt {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 <-> UTF-16, for diagnostics, test output and files written by tests.
// Unpaired surrogates and malformed bytes become U+FFFD.
std::string toUtf8(TextView text);
Text fromUtf8(std::string_view utf8);

}  // namespace rt
