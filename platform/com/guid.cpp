#include "platform/com/guid.h"

#include <cstdio>

std::string GuidToString(const GUID& g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly `digits` hex digits from the front of `text`.
bool TakeHex(std::string_view& text, int digits, std::uint64_t& value) {
  if (text.size() < static_cast<std::size_t>(digits)) return false;
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = HexValue(text[static_cast<std::size_t>(i)]);
    if (v < 0) return false;
    value = value << 4 | static_cast<std::uint64_t>(v);
  }
  text.remove_prefix(static_cast<std::size_t>(digits));
  return true;
}

bool TakeDash(std::string_view& text) {
  if (text.empty() || text.front() != '-') return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

std::optional<GUID> GuidFromString(std::string_view text) {
  if (!text.empty() && text.front() == '{') {
    if (text.size() < 2 || text.back() != '}') return std::nullopt;
    text = text.substr(1, text.size() - 2);
  }
  GUID g;
  std::uint64_t v = 0;
  if (!TakeHex(text, 8, v)) return std::nullopt;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!TakeDash(text) || !TakeHex(text, 4, v)) return std::nullopt;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!TakeDash(text) || !TakeHex(text, 4, v)) return std::nullopt;
  g.Data3 = static_cast<std::uint16_t>(v);
  if (!TakeDash(text)) return std::nullopt;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !TakeDash(text)) return std::nullopt;
    if (!TakeHex(text, 2, v)) return std::nullopt;
    g.Data4[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
  }
  if (!text.empty()) return std::nullopt;
  return g;
}
