// Test scripting through the environment of the process that loads the component.
#pragma once

#include <optional>
#include <string>

namespace vbgreport {

// Comma-separated answers for successive reports (scripted_answers.h); while set, no window is
// shown.
inline constexpr wchar_t kAnswersVariable[] = L"VBGUARD_REPORT_ANSWERS";
// A file that receives one JSON line per call made on a report object.
inline constexpr wchar_t kLogVariable[] = L"VBGUARD_REPORT_LOG";

// The variable's value, read at each use; nothing when it is not set (set but empty is "").
std::optional<std::wstring> environmentVariable(const wchar_t* name);

}  // namespace vbgreport
