#pragma once

#include <concepts>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/unknown.h"

// Late binding: the dispatch interface and the self-describing values it
// passes. Only what the viewer's automation calls need is here; the layout
// of each type keeps the platform's, so a real automation server could be
// handed these structures unchanged.

using WORD = std::uint16_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using LPOLESTR = OLECHAR*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_UNKNOWN = 13,
};

// Call kinds of IDispatch::Invoke.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

inline constexpr DISPID DISPID_UNKNOWN = -1;
// The named argument that carries the new value of a property put.
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(0x80020006u);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHresult(0x80020008u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(0x80020003u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHresult(0x8002000Eu);

inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IDispatch;
struct ITypeInfo;  // never used here; only its place in the table matters

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    std::int32_t lVal;
    std::int16_t iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
  };
};
using VARIANTARG = VARIANT;

// Arguments of one call: positional ones last to first, named ones first.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  std::uint32_t dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
};

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                  LCID locale, DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argumentError) = 0;

 protected:
  ~IDispatch() = default;
};

// VT_EMPTY, nothing held.
void VariantInit(VARIANT* value);
// Frees the string or releases the object held and leaves VT_EMPTY;
// DISP_E_BADVARTYPE, with the value untouched, for a type it does not know.
HRESULT VariantClear(VARIANT* value);
// Clears `destination`, then copies `source` with a string of its own or a
// new reference to its object.
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);

// Owns one VARIANT and what it holds.
class ComVariant {
 public:
  ComVariant() { VariantInit(&v_); }
  explicit ComVariant(std::int32_t value) : ComVariant() {
    v_.vt = VT_I4;
    v_.lVal = value;
  }
  // Only a real bool: a string literal would otherwise convert to one.
  template <std::same_as<bool> Bool>
  explicit ComVariant(Bool value) : ComVariant() {
    v_.vt = VT_BOOL;
    v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  // A string of its own; VT_EMPTY if it cannot be allocated.
  explicit ComVariant(std::u16string_view text);
  // A new reference to `object`.
  explicit ComVariant(IDispatch* object);
  ComVariant(const ComVariant& other) : ComVariant() { VariantCopy(&v_, &other.v_); }
  ComVariant(ComVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  ~ComVariant() { VariantClear(&v_); }
  ComVariant& operator=(ComVariant other) noexcept {
    std::swap(v_, other.v_);
    return *this;
  }

  VARTYPE Type() const { return v_.vt; }
  const VARIANT& Get() const { return v_; }
  // For out-parameters: clears what is held and hands out the slot.
  VARIANT* Put() {
    VariantClear(&v_);
    return &v_;
  }
  // The object held, with a reference of its own; empty for any other type.
  ComPtr<IDispatch> Dispatch() const {
    return v_.vt == VT_DISPATCH ? ComPtr<IDispatch>(v_.pdispVal) : ComPtr<IDispatch>();
  }

 private:
  VARIANT v_;
};
