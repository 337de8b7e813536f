#include "platform/com/dispatch.h"

void VariantInit(VARIANT* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  value->dblVal = 0.0;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  switch (value->vt) {
    case VT_BSTR:
      SysFreeString(value->bstrVal);
      break;
    case VT_DISPATCH:
      if (value->pdispVal != nullptr) value->pdispVal->Release();
      break;
    case VT_UNKNOWN:
      if (value->punkVal != nullptr) value->punkVal->Release();
      break;
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_ERROR:
    case VT_BOOL:
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (destination == source) return S_OK;
  if (const HRESULT hr = VariantClear(destination); FAILED(hr)) return hr;
  switch (source->vt) {
    case VT_BSTR:
      if (source->bstrVal != nullptr) {
        const BSTR copy = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (copy == nullptr) return E_OUTOFMEMORY;
        *destination = *source;
        destination->bstrVal = copy;
        return S_OK;
      }
      break;
    case VT_DISPATCH:
      if (source->pdispVal != nullptr) source->pdispVal->AddRef();
      break;
    case VT_UNKNOWN:
      if (source->punkVal != nullptr) source->punkVal->AddRef();
      break;
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_ERROR:
    case VT_BOOL:
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  *destination = *source;
  return S_OK;
}

ComVariant::ComVariant(std::u16string_view text) : ComVariant() {
  const BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) return;
  v_.vt = VT_BSTR;
  v_.bstrVal = copy;
}

ComVariant::ComVariant(IDispatch* object) : ComVariant() {
  v_.vt = VT_DISPATCH;
  v_.pdispVal = object;
  if (object != nullptr) object->AddRef();
}
