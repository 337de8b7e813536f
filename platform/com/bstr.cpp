#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/com/utf.h"

namespace {

// Layout: a 32-bit byte count, then the characters, then a NUL character.
// The BSTR points at the first character.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* Header(BSTR s) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<unsigned char*>(s) - kPrefix);
}

std::size_t Length(const OLECHAR* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  constexpr UINT kMaxChars = (std::numeric_limits<std::uint32_t>::max() - kPrefix) / 2 - 1;
  if (length > kMaxChars) return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const std::uint32_t byteCount = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &byteCount, kPrefix);
  BSTR s = reinterpret_cast<BSTR>(block + kPrefix);
  if (text)
    std::memcpy(s, text, bytes);
  else
    std::memset(s, 0, bytes);
  s[length] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  const std::size_t n = Length(text);
  if (n > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(n));
}

void SysFreeString(BSTR text) {
  if (text) std::free(Header(text));
}

UINT SysStringByteLen(BSTR text) {
  if (!text) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, Header(text), kPrefix);
  return bytes;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

ComBstr::ComBstr(std::u16string_view text) {
  if (text.size() > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
  s_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!s_) throw std::bad_alloc();
}

ComBstr::ComBstr(std::string_view utf8) : ComBstr(std::u16string_view(Utf8ToUtf16(utf8))) {}

ComBstr::ComBstr(const ComBstr& other) {
  if (other.s_) {
    s_ = SysAllocStringLen(other.s_, other.Length());
    if (!s_) throw std::bad_alloc();
  }
}

std::string ComBstr::Utf8() const { return Utf16ToUtf8(View()); }
