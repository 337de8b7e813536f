#include "viewer/dialogs/excel_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/testing/recording_dispatch.h"

namespace {

using com::testing::AutomationLog;
using com::testing::RecordingDispatch;
using namespace std::chrono_literals;
using Pauses = std::vector<std::chrono::milliseconds>;

std::string Text(const VARIANT& v) {
  switch (v.vt) {
    case VT_I4:
      return "i4:" + std::to_string(v.lVal);
    case VT_BOOL:
      return "bool:" + std::to_string(v.boolVal);
    case VT_BSTR:
      return "bstr:" + Utf16ToUtf8(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)));
    default:
      return "vt:" + std::to_string(v.vt);
  }
}

// "object.Member" for a read or a method, "object.Member=" for a put, then
// the arguments in the order the server received them.
std::vector<std::string> Calls(const AutomationLog& log) {
  std::vector<std::string> calls;
  for (const auto& call : log.invocations) {
    std::string text = call.object + "." + call.member;
    if (call.flags == DISPATCH_PROPERTYPUT) text += "=";
    for (const ComVariant& argument : call.arguments) text += " " + Text(argument.Get());
    calls.push_back(text);
  }
  return calls;
}

class AutomationCallTest : public ::testing::Test {
 protected:
  AutomationSleep Sleep() {
    return [this](std::chrono::milliseconds pause) { pauses.push_back(pause); };
  }

  AutomationLog log;
  RecordingDispatch object{"object", log};
  Pauses pauses;
};

TEST_F(AutomationCallTest, LocalesArgumentOrderAndTheNamedValueOfAPut) {
  const ComVariant text(u"two");
  EXPECT_EQ(AutomationCall(DISPATCH_PROPERTYPUT, nullptr, &object, u"Value",
                           {ComVariant(std::int32_t{1}), text, ComVariant(true)}, Sleep()),
            S_OK);
  object.Returns("Count", ComVariant(std::int32_t{42}));
  ComVariant count;
  EXPECT_EQ(AutomationCall(DISPATCH_PROPERTYGET, count.Put(), &object, u"Count"), S_OK);
  EXPECT_EQ(Text(count.Get()), "i4:42");

  EXPECT_EQ(Calls(log),
            (std::vector<std::string>{"object.Value= bool:-1 bstr:two i4:1", "object.Count"}));
  ASSERT_EQ(log.lookups.size(), 2u);
  EXPECT_EQ(log.lookups[0].names, std::vector<std::string>{"Value"});
  EXPECT_EQ(log.lookups[0].locale, 0x400u);
  EXPECT_EQ(log.lookups[0].iid, IID_NULL);
  const auto& put = log.invocations[0];
  EXPECT_EQ(put.locale, 0x800u);
  EXPECT_EQ(put.iid, IID_NULL);
  EXPECT_EQ(put.namedArguments, std::vector<DISPID>{-3});
  EXPECT_FALSE(put.wantsResult);
  EXPECT_TRUE(log.invocations[1].namedArguments.empty());
  // The caller's values are lent, not taken.
  EXPECT_EQ(Text(text.Get()), "bstr:two");
  EXPECT_TRUE(pauses.empty());
}

TEST_F(AutomationCallTest, NoObjectOrAnUnknownNameFailsWithoutInvoking) {
  EXPECT_EQ(AutomationCall(DISPATCH_PROPERTYGET, nullptr, nullptr, u"Workbooks", {}, Sleep()),
            E_FAIL);
  object.FailLookup("Nothing", DISP_E_UNKNOWNNAME);
  EXPECT_EQ(AutomationCall(DISPATCH_METHOD, nullptr, &object, u"Nothing", {}, Sleep()),
            DISP_E_UNKNOWNNAME);
  EXPECT_TRUE(log.invocations.empty());
  EXPECT_TRUE(pauses.empty());
}

TEST_F(AutomationCallTest, BusyServerGetsAPauseOtherFailuresAnImmediateRetry) {
  // Any success counts, and is reported as S_OK.
  object.Answer("Visible",
                {RPC_E_SERVERCALL_RETRYLATER, E_FAIL, RPC_E_SERVERCALL_RETRYLATER, S_FALSE});
  EXPECT_EQ(AutomationCall(DISPATCH_PROPERTYPUT, nullptr, &object, u"Visible", {ComVariant(true)},
                           Sleep()),
            S_OK);
  EXPECT_EQ(log.invocations.size(), 4u);
  EXPECT_EQ(log.lookups.size(), 1u);
  EXPECT_EQ(pauses, (Pauses{100ms, 100ms}));

  // 99 tries, a pause before each further one, then the last code.
  log.invocations.clear();
  pauses.clear();
  object.Answer("Add", {RPC_E_SERVERCALL_RETRYLATER});
  EXPECT_EQ(AutomationCall(DISPATCH_PROPERTYGET, nullptr, &object, u"Add", {}, Sleep()),
            RPC_E_SERVERCALL_RETRYLATER);
  EXPECT_EQ(log.invocations.size(), 99u);
  EXPECT_EQ(pauses.size(), 98u);

  log.invocations.clear();
  pauses.clear();
  object.Answer("Item", {E_FAIL, E_FAIL, DISP_E_MEMBERNOTFOUND});
  EXPECT_EQ(AutomationCall(DISPATCH_PROPERTYGET, nullptr, &object, u"Item", {}, Sleep()),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(log.invocations.size(), 99u);
  EXPECT_TRUE(pauses.empty());
}

// The spreadsheet's objects as far as the probe walks them.
struct FakeSpreadsheet {
  FakeSpreadsheet() {
    application.ReturnsObject("Workbooks", &workbooks);
    application.ReturnsObject("ActiveWorkbook", &workbook);
    workbooks.ReturnsObject("Add", &newWorkbook);
    workbook.ReturnsObject("Worksheets", &sheets);
    sheets.ReturnsObject("Item", &sheet);
    sheet.ReturnsObject("Range", &range);
  }

  DispatchFactory Factory(HRESULT result = S_OK) {
    return [this, result](ComPtr<IDispatch>& object) {
      object = ComPtr<IDispatch>(&application);
      return result;
    };
  }

  // Every reference taken must have been given back.
  ULONG References() const {
    ULONG total = 0;
    for (const RecordingDispatch* object :
         {&application, &workbooks, &newWorkbook, &workbook, &sheets, &sheet, &range})
      total += object->refs.load();
    return total;
  }

  AutomationLog log;
  RecordingDispatch application{"application", log};
  RecordingDispatch workbooks{"workbooks", log};
  RecordingDispatch newWorkbook{"newWorkbook", log};
  RecordingDispatch workbook{"workbook", log};
  RecordingDispatch sheets{"sheets", log};
  RecordingDispatch sheet{"sheet", log};
  RecordingDispatch range{"range", log};
};

TEST(ExcelProbe, PutsOneTwoThreeIntoA1OfANewWorkbookAndShowsTheApplication) {
  FakeSpreadsheet excel;
  excel.application.Answer("Workbooks", {RPC_E_SERVERCALL_RETRYLATER, S_OK});
  Pauses pauses;
  ExcelProbe(excel.Factory(), [&](std::chrono::milliseconds pause) { pauses.push_back(pause); });
  EXPECT_EQ(Calls(excel.log), (std::vector<std::string>{
                                  "application.Workbooks",
                                  "application.Workbooks",
                                  "workbooks.Add",
                                  "application.ActiveWorkbook",
                                  "workbook.Worksheets",
                                  "sheets.Item i4:1",
                                  "sheet.Range bstr:A1",
                                  "range.Value= i4:123",
                                  "application.Visible= bool:-1",
                              }));
  EXPECT_EQ(pauses, Pauses{100ms});
  EXPECT_EQ(excel.References(), 0u);
}

TEST(ExcelProbe, StepsWithoutTheirObjectFailQuietlyAndTheApplicationIsStillShown) {
  // A reply that is no object leaves the sheet steps without one.
  FakeSpreadsheet excel;
  excel.application.Returns("ActiveWorkbook", ComVariant(std::int32_t{0}));
  ExcelProbe(excel.Factory());
  EXPECT_EQ(Calls(excel.log), (std::vector<std::string>{
                                  "application.Workbooks",
                                  "workbooks.Add",
                                  "application.ActiveWorkbook",
                                  "application.Visible= bool:-1",
                              }));
  EXPECT_EQ(excel.References(), 0u);

  // A failed creation is the end, whatever it left behind.
  FakeSpreadsheet unstarted;
  ExcelProbe(unstarted.Factory(REGDB_E_CLASSNOTREG));
  EXPECT_TRUE(unstarted.log.invocations.empty());
  EXPECT_EQ(unstarted.References(), 0u);

  // Nobody here serves the spreadsheet's class.
  ComPtr<IDispatch> application;
  EXPECT_TRUE(FAILED(CreateExcelApplication(application)));
  EXPECT_FALSE(application);
  ExcelProbe();
}

}  // namespace
