#pragma once

#include <cstdint>

// Result codes keep their Windows values: they cross the library boundary,
// appear in user-visible messages as "hr=0x%x" and are compared by callers.

#if defined(_WIN32)
#define STDMETHODCALLTYPE __stdcall
#else
#define STDMETHODCALLTYPE
#endif

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;

constexpr HRESULT MakeHresult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057u);
inline constexpr HRESULT E_POINTER = MakeHresult(0x80004003u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000Eu);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002u);
inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001u);
inline constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFFu);
inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeHresult(0x00040103u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154u);
inline constexpr HRESULT RPC_E_SERVERCALL_RETRYLATER = MakeHresult(0x8001010Au);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(0x80040111u);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3u);

// A system error (errno) carried in a result code, the way Windows carries
// its own error codes (facility 7), so that a caller across the library
// boundary can still say why.
constexpr HRESULT HresultFromErrno(int code) {
  return MakeHresult(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

// The system error a result code carries, or 0 when it carries none.
constexpr int ErrnoFromHresult(HRESULT hr) {
  const auto bits = static_cast<std::uint32_t>(hr);
  return (bits & 0xFFFF0000u) == 0x80070000u ? static_cast<int>(bits & 0xFFFFu) : 0;
}

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
