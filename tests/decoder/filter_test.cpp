#include <gtest/gtest.h>

#include "tests/decoder/filter_fixtures.h"

namespace {

using filtertest::Decoder;

CMediaType Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits = 16) {
  return MakeAudioType(MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, channels, rate, bits);
}

HRESULT CheckInput(Decoder& d, const CMediaType& type) { return d->CheckInputType(&type); }
HRESULT CheckTransform(Decoder& d, const CMediaType& in, const CMediaType& out) {
  return d->CheckTransform(&in, &out);
}

// Grants a fixed size, or refuses with a fixed code, and keeps the request.
struct FakeAllocator : IMemAllocator {
  LONG grantedSize = -1;  // -1: whatever is asked
  HRESULT refusal = S_OK;
  ALLOCATOR_PROPERTIES asked;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                          ALLOCATOR_PROPERTIES* actual) override {
    asked = *request;
    if (FAILED(refusal)) return refusal;
    *actual = *request;
    if (grantedSize >= 0) actual->cbBuffer = grantedSize;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
};

// Connects both pins to `type` and sizes the buffers, as a host does.
void Connect(Decoder& d, const CMediaType& type) {
  ASSERT_EQ(d->ConnectInput(type), S_OK);
  ASSERT_EQ(d->ConnectOutput(type, [](const CMediaType&) { return true; }), S_OK);
  FakeAllocator allocator;
  ASSERT_EQ(d->DecideAllocator(&allocator, ALLOCATOR_PROPERTIES{}), S_OK);
}

// Runs one buffer through Receive; returns the output.
std::vector<std::int16_t> Feed(Decoder& d, const std::vector<std::int16_t>& in) {
  std::vector<std::int16_t> out(in.size(), 0x5555);
  auto* inBytes = reinterpret_cast<BYTE*>(const_cast<std::int16_t*>(in.data()));
  const auto bytes = static_cast<LONG>(in.size() * 2);
  CMediaSample input(inBytes, bytes, bytes);
  CMediaSample output(reinterpret_cast<BYTE*>(out.data()), bytes, 0);
  EXPECT_EQ(d->Receive(&input, &output), S_OK);
  EXPECT_EQ(output.GetActualDataLength(), bytes);
  return out;
}

TEST(DecoderFilterTypes, Only16BitPcmWithAWaveFormatIsAccepted) {
  Decoder d;
  EXPECT_EQ(CheckInput(d, Pcm(1, 44100)), S_OK);
  EXPECT_EQ(CheckInput(d, Pcm(2, 22050)), S_OK);
  EXPECT_EQ(CheckInput(d, Pcm(6, 48000)), S_OK);
  EXPECT_EQ(CheckInput(d, Pcm(1, 44100, 8)), E_FAIL);
  EXPECT_EQ(CheckInput(d, Pcm(2, 44100, 24)), E_FAIL);
  const CMediaType floats =
      MakeAudioType(MEDIASUBTYPE_IEEE_FLOAT, WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 16);
  EXPECT_EQ(CheckInput(d, floats), E_FAIL);
  CMediaType noFormat = Pcm(1, 44100);
  noFormat.ResetFormatBuffer();
  EXPECT_EQ(CheckInput(d, noFormat), E_FAIL);
  CMediaType otherFormatType = Pcm(1, 44100);
  otherFormatType.SetFormatType(&GUID_NULL);
  EXPECT_EQ(CheckInput(d, otherFormatType), E_FAIL);

  EXPECT_EQ(CheckTransform(d, Pcm(2, 44100), Pcm(1, 8000, 8)), S_OK);  // audio PCM is enough
  EXPECT_EQ(CheckTransform(d, Pcm(2, 44100), floats), E_FAIL);
  EXPECT_EQ(CheckTransform(d, Pcm(2, 44100, 8), Pcm(2, 44100)), E_FAIL);
}

TEST(DecoderFilterTypes, OffersTheInputTypeOnceTheInputIsConnected) {
  Decoder d;
  CMediaType offered;
  EXPECT_EQ(d->GetMediaType(0, &offered), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(d->GetMediaType(-1, &offered), E_INVALIDARG);
  ASSERT_EQ(d->ConnectInput(Pcm(2, 22050)), S_OK);
  EXPECT_EQ(d->GetMediaType(0, &offered), S_OK);
  EXPECT_EQ(offered, Pcm(2, 22050));
  EXPECT_EQ(d->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(d->GetMediaType(-1, &offered), E_INVALIDARG);
  EXPECT_EQ(d->ConnectInput(Pcm(2, 22050, 8)), E_FAIL);
  EXPECT_EQ(d->GetMediaType(0, &offered), VFW_S_NO_MORE_ITEMS);
}

TEST(DecoderFilterAllocator, OneSecondInThreeBuffersAndNoLess) {
  Decoder d;
  FakeAllocator allocator;
  ALLOCATOR_PROPERTIES properties{0, 0, 16, 8};
  EXPECT_EQ(d->DecideBufferSize(&allocator, &properties), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(d->ConnectInput(Pcm(2, 22050)), S_OK);
  EXPECT_EQ(d->DecideBufferSize(&allocator, &properties), S_OK);
  EXPECT_EQ(allocator.asked.cbBuffer, 88200);
  EXPECT_EQ(allocator.asked.cBuffers, 3);
  EXPECT_EQ(allocator.asked.cbAlign, 16);
  EXPECT_EQ(allocator.asked.cbPrefix, 8);

  allocator.grantedSize = 88199;
  EXPECT_EQ(d->DecideBufferSize(&allocator, &properties), E_FAIL);
  allocator.grantedSize = 1 << 20;
  EXPECT_EQ(d->DecideBufferSize(&allocator, &properties), S_OK);
  allocator.refusal = VFW_E_BADALIGN;
  EXPECT_EQ(d->DecideBufferSize(&allocator, &properties), VFW_E_BADALIGN);
}

TEST(DecoderFilterTransform, MonoIsAttenuatedAndEverySampleDecoded) {
  Decoder d;
  Connect(d, Pcm(1, 44100));
  const auto out = Feed(d, {32767, -32768, 19, -19, 20, -21});
  EXPECT_EQ(out, (std::vector<std::int16_t>{1638, -1638, 0, 0, 1, -1}));
  Feed(d, filtertest::TelemetryAudio(44100, 2));
  EXPECT_EQ(filtertest::GoodPackets(d.quorvex.Get()), 2);
}

TEST(DecoderFilterTransform, TheChosenChannelAtTheInputRateIsDecoded) {
  struct Case {
    std::uint16_t channels;
    std::uint32_t rate;
    int telemetryOn, audioChannel, decoded;
  };
  for (const Case& c :
       {Case{2, 44100, 1, 1, 1}, Case{2, 44100, 1, 0, 0}, Case{2, 44100, 0, 0, 1},
        Case{2, 44100, 0, 1, 0}, Case{6, 44100, 0, 1, 1}, Case{1, 22050, 0, 1, 1}}) {
    Decoder d;
    Connect(d, Pcm(c.channels, c.rate));
    ASSERT_EQ(d->SetAudioChannel(c.audioChannel), S_OK);
    const auto in =
        filtertest::Interleave(filtertest::TelemetryAudio(c.rate, 1), c.channels, c.telemetryOn);
    const auto out = Feed(d, in);
    EXPECT_EQ(filtertest::GoodPackets(d.quorvex.Get()), c.decoded)
        << c.channels << " channels at " << c.rate << ", telemetry on " << c.telemetryOn
        << ", decoding " << c.audioChannel;
    // Every channel goes on at 5 %, whichever one is decoded.
    for (std::size_t i = 0; i < in.size(); ++i)
      ASSERT_EQ(out[i], static_cast<std::int16_t>(in[i] * 0.05)) << i;
  }
}

TEST(DecoderFilterTransform, AnOddTrailingByteIsDropped) {
  Decoder d;
  Connect(d, Pcm(2, 44100));
  std::int16_t in[4] = {1000, -1000, 2000, 0x7F7F};
  BYTE out[8];
  std::memset(out, 0xAB, sizeof out);
  CMediaSample input(reinterpret_cast<BYTE*>(in), 7, 7);
  CMediaSample output(out, 8, 0);
  ASSERT_EQ(d->Receive(&input, &output), S_OK);
  EXPECT_EQ(output.GetActualDataLength(), 6);
  std::int16_t values[3];
  std::memcpy(values, out, 6);
  EXPECT_EQ(values[0], 50);
  EXPECT_EQ(values[1], -50);
  EXPECT_EQ(values[2], 100);  // half a frame: passed on, not decoded
  EXPECT_EQ(out[6], 0xAB);

  // An output smaller than the input is refused untouched.
  CMediaSample small(out, 4, 0);
  EXPECT_EQ(d->Receive(&input, &small), VFW_E_BUFFER_OVERFLOW);
}

// Counts what the inner object's interfaces pass on.
struct Outer : IUnknown {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(DecoderFilterIdentity, QueryInterfaceAndAggregation) {
  Decoder d;
  EXPECT_EQ(d.identity->QueryInterface(IID_IQuorvex, nullptr), E_POINTER);
  void* none = &none;
  EXPECT_EQ(d.identity->QueryInterface(IID_IMediaSample, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  ComPtr<IUnknown> viaQuorvex;
  ASSERT_EQ(d.quorvex.As(IID_IUnknown, viaQuorvex), S_OK);
  EXPECT_EQ(viaQuorvex.Get(), d.identity.Get());

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_Quorvex, IID_IClassFactory, factory.PutVoid()), S_OK);
  Outer outer;
  IQuorvex* direct = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IQuorvex, reinterpret_cast<void**>(&direct)),
            CLASS_E_NOAGGREGATION);
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  IQuorvex* quorvex = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IQuorvex, reinterpret_cast<void**>(&quorvex)), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  quorvex->AddRef();
  EXPECT_EQ(outer.refs, 3u);
  quorvex->Release();
  quorvex->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(inner->Release(), 0u);
}

TEST(DecoderLibrary, ClassObjectAndUnloading) {
  void* object = &object;
  EXPECT_EQ(DllGetClassObject(IID_IQuorvex, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  // Once an element type exists, the code behind it has to stay.
  const HRESULT idle = TransformElementTypeRegistered() ? S_FALSE : S_OK;
  EXPECT_EQ(DllCanUnloadNow(), idle);
  {
    Decoder d;
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), idle);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_Quorvex, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(TRUE);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(CLSID_Quorvex, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(FALSE);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), idle);
  gst_init(nullptr, nullptr);
  TransformElementType(kQuorvexElement);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
}

}  // namespace
