#include "runtime/text.h"

namespace rt {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void appendUtf16(Text& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (c >> 10));
    out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  }
}

}  // namespace

std::string toUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

Text fromUtf8(std::string_view utf8) {
  Text out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > utf8.size()) {
      appendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    bool valid = true;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      appendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    appendUtf16(out, c);
    i += length;
  }
  return out;
}

std::vector<uint8_t> toUtf16Bytes(TextView text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) bytes.insert(bytes.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  return bytes;
}

Text fromUtf16Bytes(const std::vector<uint8_t>& bytes) {
  Text text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return text;
}

}  // namespace rt
