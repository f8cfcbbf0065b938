// Text inside the utility: counted UTF-16 strings, as Windows and OLE Automation hold them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 <-> UTF-16, for diagnostics, test output and files written by tests.
// Unpaired surrogates and malformed bytes become U+FFFD.
std::string toUtf8(TextView text);
Text fromUtf8(std::string_view utf8);

// Text as the registry stores it: UTF-16 code units, low byte first, and back. An odd last byte
// is dropped.
std::vector<uint8_t> toUtf16Bytes(TextView text);
Text fromUtf16Bytes(const std::vector<uint8_t>& bytes);

}  // namespace rt
