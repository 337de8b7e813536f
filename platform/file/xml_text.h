#pragma once

#include <string>
#include <string_view>

// Text of UTF-8 as XML character data or attribute value: the five
// characters with a meaning in markup become their entities.
inline void AppendXmlEscaped(std::string& out, std::string_view utf8) {
  for (char c : utf8) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
}

inline std::string XmlEscaped(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  AppendXmlEscaped(out, utf8);
  return out;
}
