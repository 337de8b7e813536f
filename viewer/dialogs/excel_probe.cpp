#include "viewer/dialogs/excel_probe.h"

#include <string>
#include <thread>
#include <vector>

#include "platform/com/co_create.h"

HRESULT AutomationCall(WORD callKind, VARIANT* result, IDispatch* object, std::u16string_view name,
                       std::initializer_list<ComVariant> arguments, const AutomationSleep& sleep) {
  if (object == nullptr) return E_FAIL;

  std::u16string nameCopy(name);
  LPOLESTR names[] = {nameCopy.data()};
  DISPID member = DISPID_UNKNOWN;
  if (const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
      FAILED(hr)) {
    return hr;
  }

  // The server reads positional arguments last to first. The copies are
  // shallow: the caller's variants keep what they hold.
  std::vector<VARIANTARG> reversed;
  reversed.reserve(arguments.size());
  for (auto it = std::rbegin(arguments); it != std::rend(arguments); ++it) {
    reversed.push_back(it->Get());
  }
  DISPID propertyPut = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (callKind & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &propertyPut;
    params.cNamedArgs = 1;
  }

  HRESULT hr = E_FAIL;
  for (int attempt = 1; attempt <= kAutomationTries; ++attempt) {
    hr = object->Invoke(member, IID_NULL, LOCALE_SYSTEM_DEFAULT, callKind, &params, result, nullptr,
                        nullptr);
    if (SUCCEEDED(hr)) return S_OK;
    if (hr == RPC_E_SERVERCALL_RETRYLATER && attempt < kAutomationTries) {
      if (sleep) {
        sleep(kAutomationRetryPause);
      } else {
        std::this_thread::sleep_for(kAutomationRetryPause);
      }
    }
  }
  return hr;
}

HRESULT CreateExcelApplication(ComPtr<IDispatch>& application) {
  application.Reset();
  CLSID clsid;
  if (const HRESULT hr = CLSIDFromProgID(kExcelProgId, &clsid); FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          application.PutVoid());
}

namespace {

// A property read whose value is an object: that object, or empty.
ComPtr<IDispatch> ReadObject(IDispatch* object, std::u16string_view name,
                             std::initializer_list<ComVariant> arguments,
                             const AutomationSleep& sleep, HRESULT* hr = nullptr) {
  ComVariant value;
  const HRESULT result =
      AutomationCall(DISPATCH_PROPERTYGET, value.Put(), object, name, arguments, sleep);
  if (hr != nullptr) *hr = result;
  return value.Dispatch();
}

}  // namespace

void ExcelProbe(const DispatchFactory& create, const AutomationSleep& sleep) {
  ComPtr<IDispatch> application;
  if (!create || FAILED(create(application)) || !application) return;

  // Every step goes on whatever the one before gave: a step without its
  // object fails at once, and nothing is reported either way.
  const ComPtr<IDispatch> workbooks = ReadObject(application.Get(), u"Workbooks", {}, sleep);
  // Held to the end, so that the server keeps the new workbook while its
  // first cell is written.
  const ComPtr<IDispatch> newWorkbook = ReadObject(workbooks.Get(), u"Add", {}, sleep);
  const ComPtr<IDispatch> workbook = ReadObject(application.Get(), u"ActiveWorkbook", {}, sleep);
  const ComPtr<IDispatch> sheets = ReadObject(workbook.Get(), u"Worksheets", {}, sleep);
  HRESULT sheetFound = E_FAIL;
  const ComPtr<IDispatch> sheet =
      ReadObject(sheets.Get(), u"Item", {ComVariant(std::int32_t{1})}, sleep, &sheetFound);
  if (SUCCEEDED(sheetFound)) {
    const ComPtr<IDispatch> range = ReadObject(sheet.Get(), u"Range", {ComVariant(u"A1")}, sleep);
    AutomationCall(DISPATCH_PROPERTYPUT, nullptr, range.Get(), u"Value",
                   {ComVariant(std::int32_t{123})}, sleep);
  }
  AutomationCall(DISPATCH_PROPERTYPUT, nullptr, application.Get(), u"Visible", {ComVariant(true)},
                 sleep);
}
