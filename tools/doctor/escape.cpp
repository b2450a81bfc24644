#include "escape.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%0*X", prefix, digits, value);
  out += text;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Characters that could break a line, fake one, or reorder what is shown.
bool IsDisguising(std::uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF ||
         (cp >= 0xD800 && cp <= 0xDFFF);
}

void AppendShown(std::string& out, std::uint32_t cp, bool quoted) {
  if (cp == '\n') {
    out += "\\n";
  } else if (cp == '\r') {
    out += "\\r";
  } else if (cp == '\t') {
    out += "\\t";
  } else if (cp < 0x20 || cp == 0x7F) {
    AppendHex(out, "\\x", cp, 2);
  } else if (IsDisguising(cp)) {
    AppendHex(out, "\\u", cp, 4);
  } else if (quoted && (cp == '"' || cp == '\\')) {
    out += '\\';
    out += static_cast<char>(cp);
  } else {
    AppendUtf8(out, cp);
  }
}

// The length of the well-formed UTF-8 sequence at `at` (shortest form, no
// surrogates, at most U+10FFFF), or 0.
std::size_t SequenceLength(const std::string& text, std::size_t at, std::uint32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  return length;
}

std::string InQuotes(std::string text, bool quoted) { return quoted ? "\"" + text + "\"" : text; }

}  // namespace

std::string Escaped(const std::string& text, bool quoted) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    std::uint32_t cp = 0;
    const std::size_t length = SequenceLength(text, at, cp);
    if (length == 0) {
      AppendHex(out, "\\x", static_cast<unsigned char>(text[at]), 2);
      ++at;
      continue;
    }
    AppendShown(out, cp, quoted);
    at += length;
  }
  return InQuotes(std::move(out), quoted);
}

std::string Escaped(const std::wstring& text, bool quoted) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::uint32_t cp = static_cast<std::uint16_t>(text[at]);
    if (cp >= 0xD800 && cp <= 0xDBFF && at + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint16_t>(text[at + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++at;
      }
    }
    AppendShown(out, cp, quoted);
  }
  return InQuotes(std::move(out), quoted);
}
