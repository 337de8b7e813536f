#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// Length-prefixed, NUL-terminated UTF-16 strings, the only text type that
// crosses a component interface. The callee copies what it keeps; the
// caller frees its own.
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using UINT = std::uint32_t;

// Copies up to the terminating NUL; null in gives null out.
BSTR SysAllocString(const OLECHAR* text);
// Copies `length` characters (embedded NULs kept); null text gives a string
// of `length` zero characters. Null on allocation failure.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
// Characters held; 0 for null.
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// Owns one BSTR.
class ComBstr {
 public:
  ComBstr() = default;
  explicit ComBstr(std::u16string_view text);
  explicit ComBstr(std::string_view utf8);
  ComBstr(const ComBstr& other);
  ComBstr(ComBstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  ~ComBstr() { SysFreeString(s_); }
  ComBstr& operator=(ComBstr other) noexcept {
    std::swap(s_, other.s_);
    return *this;
  }

  static ComBstr Attach(BSTR s) {
    ComBstr r;
    r.s_ = s;
    return r;
  }
  BSTR Detach() { return std::exchange(s_, nullptr); }
  BSTR Get() const { return s_; }
  BSTR* Put() {
    SysFreeString(std::exchange(s_, nullptr));
    return &s_;
  }
  UINT Length() const { return SysStringLen(s_); }
  std::u16string_view View() const { return {s_ ? s_ : u"", Length()}; }
  std::string Utf8() const;
  explicit operator bool() const { return s_ != nullptr; }

 private:
  BSTR s_ = nullptr;
};
