#include <gtest/gtest.h>

#include <cstring>

#include "common/iquorvex.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/utf.h"

namespace {

TEST(ComResults, CodesKeepTheirWindowsValues) {
  EXPECT_EQ(static_cast<std::uint32_t>(E_FAIL), 0x80004005u);
  EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(static_cast<std::uint32_t>(E_POINTER), 0x80004003u);
  EXPECT_EQ(static_cast<std::uint32_t>(E_OUTOFMEMORY), 0x8007000Eu);
  EXPECT_EQ(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, 0x00040103);
  EXPECT_EQ(static_cast<std::uint32_t>(REGDB_E_CLASSNOTREG), 0x80040154u);
  EXPECT_EQ(static_cast<std::uint32_t>(RPC_E_SERVERCALL_RETRYLATER), 0x8001010Au);
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_TRUE(SUCCEEDED(VFW_S_NO_MORE_ITEMS));
  EXPECT_TRUE(FAILED(E_FAIL));
}

TEST(ComGuid, RegistryFormRoundTrips) {
  EXPECT_EQ(GuidToString(CLSID_Quorvex), "{D1C20293-1AE8-427C-8A89-80BAA8DB148A}");
  EXPECT_EQ(GuidToString(IID_IQuorvex), "{07890C8E-DF65-478B-B8AF-704A0DA02C01}");
  EXPECT_EQ(GuidFromString("{D1C20293-1AE8-427C-8A89-80BAA8DB148A}"), CLSID_Quorvex);
  EXPECT_EQ(GuidFromString("07890c8e-df65-478b-b8af-704a0da02c01"), IID_IQuorvex);
  EXPECT_EQ(GuidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  for (const char* bad :
       {"", "{}", "{D1C20293-1AE8-427C-8A89-80BAA8DB148A", "D1C20293-1AE8-427C-8A89-80BAA8DB148A}",
        "{D1C20293-1AE8-427C-8A8980BAA8DB148A}", "{D1C20293-1AE8-427C-8A89-80BAA8DB148A0}",
        "{D1C2029G-1AE8-427C-8A89-80BAA8DB148A}", "{D1C20293+1AE8-427C-8A89-80BAA8DB148A}"})
    EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
}

TEST(ComBstr, LengthPrefixEmbeddedNulsAndNull) {
  BSTR s = SysAllocString(u"Aviquent");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 8u);
  EXPECT_EQ(SysStringByteLen(s), 16u);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 16u);
  EXPECT_EQ(s[8], 0);
  SysFreeString(s);

  const char16_t withNul[] = {u'a', 0, u'b'};
  BSTR n = SysAllocStringLen(withNul, 3);
  EXPECT_EQ(SysStringLen(n), 3u);
  EXPECT_EQ(n[2], u'b');
  EXPECT_EQ(n[3], 0);
  SysFreeString(n);

  BSTR zeros = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(zeros), 4u);
  EXPECT_EQ(zeros[0], 0);
  SysFreeString(zeros);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocStringLen(u"x", 0xFFFFFFFFu), nullptr);
}

TEST(ComBstr, OwnerCopiesMovesAndConverts) {
  ComBstr a(std::string_view("Höhe 400 m"));
  EXPECT_EQ(a.Length(), 10u);
  EXPECT_EQ(a.Utf8(), "Höhe 400 m");
  ComBstr b = a;
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(a.View(), b.View());
  ComBstr c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_EQ(c.View(), u"Höhe 400 m");
  BSTR raw = c.Detach();
  EXPECT_FALSE(c);
  ComBstr d = ComBstr::Attach(raw);
  EXPECT_EQ(d.Length(), 10u);
  ComBstr empty;
  EXPECT_EQ(empty.View(), u"");
}

TEST(ComUtf, ConversionsAndMalformedInput) {
  EXPECT_EQ(Utf8ToUtf16("47.1408\xC2\xB0"), u"47.1408\u00B0");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F6E9 ok"), "\xF0\x9F\x9B\xA9 ok");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x9B\xA9"), u"\U0001F6E9");
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD");           // cut short
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");           // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");       // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

struct Counted : IUnknown {
  int refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

TEST(ComPtr, ReferencesAreBalanced) {
  Counted obj;
  {
    ComPtr<IUnknown> a(&obj);
    EXPECT_EQ(obj.refs, 2);
    ComPtr<IUnknown> b = a;
    EXPECT_EQ(obj.refs, 3);
    ComPtr<IUnknown> c = std::move(b);
    EXPECT_EQ(obj.refs, 3);
    ComPtr<IUnknown> q;
    EXPECT_EQ(a.As(IID_IUnknown, q), S_OK);
    EXPECT_EQ(obj.refs, 4);
    ComPtr<IQuorvex> none;
    EXPECT_EQ(a.As(IID_IQuorvex, none), E_NOINTERFACE);
    EXPECT_FALSE(none);
    a = c;
    EXPECT_EQ(obj.refs, 4);
    c.Reset();
    EXPECT_EQ(obj.refs, 3);
  }
  EXPECT_EQ(obj.refs, 1);
  ComPtr<IUnknown> adopted = ComPtr<IUnknown>::Attach(&obj);
  EXPECT_EQ(obj.refs, 1);
  adopted.Detach();
}

}  // namespace
