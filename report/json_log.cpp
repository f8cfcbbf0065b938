#include "json_log.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "arrays.h"
#include "dialog.h"
#include "settings.h"

namespace vbgreport {
namespace {

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void appendEscapedUnit(std::string& out, unsigned unit) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", unit);
  out += escape;
}

// A BSTR may hold embedded NULs and unpaired surrogates: the first are escaped like any control
// character, the second as \uXXXX so that nothing is lost.
void appendJsonString(std::string& out, std::wstring_view text) {
  out += '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned unit = text[i];
    switch (unit) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (unit < 0x20) {
      appendEscapedUnit(out, unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendEscapedUnit(out, unit);
    } else {
      appendUtf8(out, unit);
    }
  }
  out += '"';
}

void appendJsonString(std::string& out, const char* text) {
  out += '"';
  out += text;
  out += '"';
}

template <class Number>
void appendNumber(std::string& out, Number number) {
  char digits[64];
  const auto written = std::to_chars(digits, digits + sizeof digits, number);
  out.append(digits, written.ptr);
}

void appendDouble(std::string& out, double number) {
  if (std::isfinite(number))
    appendNumber(out, number);
  else
    appendJsonString(out, std::isnan(number) ? "NaN" : number > 0 ? "Infinity" : "-Infinity");
}

void appendObjectName(std::string& out, IUnknown* object) {
  if (!object)
    appendJsonString(out, "null");
  else if (isOwnDialog(object))
    appendJsonString(out, kDialogProgId);
  else
    appendJsonString(out, "object");
}

void appendDateText(std::string& out, DATE date) {
  SYSTEMTIME time{};
  out += ",\"text\":";
  if (!VariantTimeToSystemTime(date, &time)) {
    out += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond);
  appendJsonString(out, text);
}

// The value of a variant that is neither an array nor by reference, then any extra fields.
void appendScalar(std::string& out, const VARIANT& value) {
  switch (V_VT(&value)) {
    case VT_EMPTY:
    case VT_NULL: out += "null"; return;
    case VT_I1: appendNumber(out, static_cast<int>(V_I1(&value))); return;
    case VT_UI1: appendNumber(out, static_cast<unsigned>(V_UI1(&value))); return;
    case VT_I2: appendNumber(out, V_I2(&value)); return;
    case VT_UI2: appendNumber(out, V_UI2(&value)); return;
    case VT_I4: appendNumber(out, static_cast<long>(V_I4(&value))); return;
    case VT_UI4: appendNumber(out, static_cast<unsigned long>(V_UI4(&value))); return;
    case VT_INT: appendNumber(out, V_INT(&value)); return;
    case VT_UINT: appendNumber(out, V_UINT(&value)); return;
    case VT_I8: appendNumber(out, static_cast<long long>(V_I8(&value))); return;
    case VT_UI8: appendNumber(out, static_cast<unsigned long long>(V_UI8(&value))); return;
    case VT_ERROR: appendNumber(out, static_cast<long>(V_ERROR(&value))); return;
    case VT_R4: appendDouble(out, V_R4(&value)); return;
    case VT_R8: appendDouble(out, V_R8(&value)); return;
    case VT_CY: appendDouble(out, static_cast<double>(V_CY(&value).int64) / 10000.0); return;
    case VT_DECIMAL: {
      double number = 0;
      VarR8FromDec(const_cast<DECIMAL*>(&V_DECIMAL(&value)), &number);
      appendDouble(out, number);
      return;
    }
    case VT_BOOL: out += V_BOOL(&value) ? "true" : "false"; return;
    case VT_BSTR: appendJsonString(out, std::wstring_view(V_BSTR(&value) ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value)))); return;
    case VT_DATE:
      appendDouble(out, V_DATE(&value));
      appendDateText(out, V_DATE(&value));
      return;
    case VT_DISPATCH: appendObjectName(out, V_DISPATCH(&value)); return;
    case VT_UNKNOWN: appendObjectName(out, V_UNKNOWN(&value)); return;
    default: out += "null"; return;
  }
}

// The first kMostShownElements of each dimension; "bounds" tells how many there are.
void appendDimension(std::string& out, SAFEARRAY* array, VARTYPE elementType, const std::vector<Bounds>& bounds,
                     std::vector<LONG>& indices, size_t dimension) {
  out += '[';
  const ULONG shown = std::min(bounds[dimension].count, kMostShownElements);
  for (ULONG i = 0; i < shown; ++i) {
    if (i) out += ',';
    indices[dimension] = static_cast<LONG>(bounds[dimension].lower + static_cast<long long>(i));
    if (dimension + 1 < bounds.size())
      appendDimension(out, array, elementType, bounds, indices, dimension + 1);
    else
      appendJsonValue(out, *elementAt(array, elementType, indices).get());
  }
  out += ']';
}

void appendArray(std::string& out, const VARIANT& value) {
  SAFEARRAY* array = arrayOf(value);
  if (!array) {
    out += "null,\"allocated\":false";
    return;
  }
  const std::vector<Bounds> bounds = boundsOf(array);
  std::vector<LONG> indices(bounds.size());
  if (bounds.empty())
    out += "[]";
  else
    appendDimension(out, array, V_VT(&referencedValue(value)) & VT_TYPEMASK, bounds, indices, 0);
  out += ",\"bounds\":[";
  for (size_t i = 0; i < bounds.size(); ++i) {
    if (i) out += ',';
    out += '[';
    appendNumber(out, static_cast<long>(bounds[i].lower));
    out += ',';
    appendNumber(out, bounds[i].upper());
    out += ']';
  }
  out += ']';
}

std::string hexCode(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

}  // namespace

void appendJsonValue(std::string& out, const VARIANT& value) {
  const VARTYPE type = V_VT(&value);
  out += "{\"vt\":";
  appendJsonString(out, typeName(type).c_str());
  out += ",\"value\":";
  if (type == (VT_BYREF | VT_VARIANT)) {
    if (V_VARIANTREF(&value))
      appendJsonValue(out, *V_VARIANTREF(&value));
    else
      out += "null";
  } else if (type & VT_ARRAY) {
    appendArray(out, value);
  } else if (type & VT_BYREF) {
    if (V_BYREF(&value))
      appendScalar(out, *copyOf(value).get());
    else
      out += "null";
  } else {
    appendScalar(out, value);
  }
  out += '}';
}

void logCall(long instance, const Call& call, const VARIANT* result, HRESULT outcome) noexcept {
  try {
    const std::optional<std::wstring> path = environmentVariable(kLogVariable);
    if (!path || path->empty()) return;

    std::string line = "{\"instance\":";
    appendNumber(line, instance);
    line += ",\"member\":";
    appendJsonString(line, std::wstring_view(call.member().name));
    line += ",\"kind\":";
    appendJsonString(line, callKindName(call.kind()));
    if (call.argumentsReadable()) {
      line += ",\"args\":[";
      for (UINT i = 0; i < call.argumentCount(); ++i) {
        if (i) line += ',';
        appendJsonValue(line, call.argument(i));
      }
      line += ']';
    } else {
      line += ",\"args\":null";  // refused unread
    }
    if (result) {
      line += ",\"result\":";
      appendJsonValue(line, *result);
    }
    if (FAILED(outcome)) {
      line += ",\"error\":";
      appendJsonString(line, hexCode(outcome).c_str());
    }
    line += "}\n";

    // Opened for appending only, so that every line lands at the end even when several
    // processes write to the same file.
    const unique_hfile file(CreateFileW(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
    // The log is a test aid: losing a line must not change the outcome of the call.
  }
}

}  // namespace vbgreport
