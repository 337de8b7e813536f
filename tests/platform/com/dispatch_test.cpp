#include "platform/com/dispatch.h"

#include <gtest/gtest.h>

#include "platform/com/testing/recording_dispatch.h"

namespace {

TEST(Variant, OwnsItsStringAndObjectAndRefusesTypesItDoesNotKnow) {
  com::testing::AutomationLog log;
  com::testing::RecordingDispatch object("object", log);
  {
    // A string literal must not turn into a boolean on the way.
    const ComVariant text(u"A1");
    ASSERT_EQ(text.Type(), VT_BSTR);
    ComVariant holder(&object);
    ComVariant textCopy(text);
    ComVariant holderCopy(holder);
    EXPECT_NE(textCopy.Get().bstrVal, text.Get().bstrVal);
    EXPECT_EQ(std::u16string_view(textCopy.Get().bstrVal), u"A1");
    EXPECT_EQ(object.refs.load(), 2u);
    // Reused as an out-parameter, a variant gives up what it held.
    holderCopy.Put();
    EXPECT_EQ(object.refs.load(), 1u);
    EXPECT_EQ(ComVariant(true).Get().boolVal, VARIANT_TRUE);
  }
  EXPECT_EQ(object.refs.load(), 0u);

  VARIANT byReference;
  VariantInit(&byReference);
  byReference.vt = 0x4003;
  EXPECT_EQ(VariantClear(&byReference), DISP_E_BADVARTYPE);
  EXPECT_EQ(byReference.vt, 0x4003);
  VARIANT copy;
  VariantInit(&copy);
  EXPECT_EQ(VariantCopy(&copy, &byReference), DISP_E_BADVARTYPE);
  EXPECT_EQ(copy.vt, VT_EMPTY);
}

}  // namespace
