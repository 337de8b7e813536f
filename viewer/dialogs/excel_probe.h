#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string_view>

#include "platform/com/dispatch.h"

// How a retry waits; empty for sleeping on the calling thread. Tests pass
// one that only counts.
using AutomationSleep = std::function<void(std::chrono::milliseconds)>;

inline constexpr int kAutomationTries = 99;
inline constexpr std::chrono::milliseconds kAutomationRetryPause{100};

// One late-bound call: `name` is looked up on `object` and invoked as
// `callKind` (DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT)
// with `arguments` in their natural order; `result` may be null. A busy
// server gets a pause before it is asked again, any other failure an
// immediate retry. S_OK on the first success, else the last failure; E_FAIL
// without an object.
HRESULT AutomationCall(WORD callKind, VARIANT* result, IDispatch* object, std::u16string_view name,
                       std::initializer_list<ComVariant> arguments = {},
                       const AutomationSleep& sleep = {});

inline constexpr char16_t kExcelProgId[] = u"Excel.Application";

// Creates the automation object of an application; `object` stays empty on
// failure.
using DispatchFactory = std::function<HRESULT(ComPtr<IDispatch>& object)>;

// The spreadsheet application's automation server, out of process.
HRESULT CreateExcelApplication(ComPtr<IDispatch>& application);

// The main dialog's hidden button 1038: starts the spreadsheet application,
// puts 123 into A1 of a new workbook and shows it. It checks whether
// automation reaches the spreadsheet at all and exports nothing; where there
// is no spreadsheet server every step fails and nothing is shown.
void ExcelProbe(const DispatchFactory& create = CreateExcelApplication,
                const AutomationSleep& sleep = {});
