#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <numeric>

#include "platform/com/com_ptr.h"
#include "platform/com/factory_template.h"
#include "platform/filter/gst_transform_element.h"
#include "platform/filter/transform_filter.h"
#include "tests/platform/filter/app_pipeline.h"

namespace {

using testpipeline::AppPipeline;

// {2D2B33A7-4A4E-4C4B-9E51-6C2E0A5B7F10}
constexpr CLSID kRecordingClsid{
    0x2D2B33A7, 0x4A4E, 0x4C4B, {0x9E, 0x51, 0x6C, 0x2E, 0x0A, 0x5B, 0x7F, 0x10}};

HRESULT RecordingGetClassObject(REFCLSID clsid, REFIID iid, void** object);

const TransformElementInfo kRecordingElement = {"recordingtransform",
                                                "RecordingTransform",
                                                "Recording Transform",
                                                "Filter/Audio",
                                                "Copies PCM and records the framework's calls",
                                                "tests",
                                                GST_RANK_NONE,
                                                "filter",
                                                &kRecordingClsid,
                                                &RecordingGetClassObject};

// Passes PCM through unchanged and records what the host asks of it.
class RecordingFilter final : public CTransformFilter {
 public:
  static CUnknown* Create(IUnknown* outer, HRESULT* hr) {
    *hr = S_OK;
    return new RecordingFilter(outer);
  }

  LONG bufferSize = 4096;
  int dropSample = 0;  // which sample to drop, counted from 1

  std::vector<std::string> Calls() {
    std::lock_guard lock(lock_);
    return calls_;
  }
  int TimesNotCopied() {
    std::lock_guard lock(lock_);
    return timesNotCopied_;
  }

  HRESULT CheckInputType(const CMediaType* type) override {
    Record("CheckInputType");
    return *type->Subtype() == MEDIASUBTYPE_PCM ? S_OK : E_FAIL;
  }
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override {
    Record("CheckTransform");
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override {
    Record("DecideBufferSize");
    properties->cbBuffer = bufferSize;
    properties->cBuffers = 2;
    ALLOCATOR_PROPERTIES actual;
    return allocator->SetProperties(properties, &actual);
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    Record("GetMediaType " + std::to_string(position));
    if (position > 0 || !InputPin().IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *type = InputPin().CurrentMediaType();
    return S_OK;
  }
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override {
    Record(direction == PINDIR_INPUT ? "SetMediaType input" : "SetMediaType output");
    return CTransformFilter::SetMediaType(direction, type);
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    if (samples_++ == 0) Record("Transform");
    REFERENCE_TIME inTimes[2] = {}, outTimes[2] = {};
    if (in->GetTime(&inTimes[0], &inTimes[1]) != out->GetTime(&outTimes[0], &outTimes[1]) ||
        inTimes[0] != outTimes[0] || inTimes[1] != outTimes[1]) {
      std::lock_guard lock(lock_);
      ++timesNotCopied_;
    }
    if (samples_ == dropSample) return S_FALSE;
    BYTE *src = nullptr, *dst = nullptr;
    in->GetPointer(&src);
    out->GetPointer(&dst);
    std::memcpy(dst, src, static_cast<std::size_t>(in->GetActualDataLength()));
    return out->SetActualDataLength(in->GetActualDataLength());
  }

 private:
  explicit RecordingFilter(IUnknown* outer)
      : CTransformFilter("Recording", outer, kRecordingClsid, &kRecordingElement) {}

  void Record(std::string call) {
    std::lock_guard lock(lock_);
    calls_.push_back(std::move(call));
  }

  std::mutex lock_;
  std::vector<std::string> calls_;
  int samples_ = 0;
  int timesNotCopied_ = 0;
};

const CFactoryTemplate kTemplates[] = {
    {"Recording", &kRecordingClsid, &RecordingFilter::Create, nullptr}};

HRESULT RecordingGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return ServerGetClassObject(kTemplates, clsid, iid, object);
}

struct Created {
  ComPtr<IGstElementHost> host;
  RecordingFilter* filter = nullptr;
};

Created CreateFilter(IUnknown* outer = nullptr) {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(RecordingGetClassObject(kRecordingClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
  Created c;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IGstElementHost, c.host.PutVoid()), S_OK);
  c.filter = static_cast<RecordingFilter*>(static_cast<CTransformFilter*>(c.host.Get()));
  return c;
}

GstElement* ElementFor(const Created& c) {
  testpipeline::InitGstreamer();
  GstElement* element = nullptr;
  EXPECT_EQ(c.host->CreateElement(&element), S_OK);
  return element;
}

std::vector<std::int16_t> Ramp(std::size_t n) {
  std::vector<std::int16_t> v(n);
  std::iota(v.begin(), v.end(), std::int16_t{-300});
  return v;
}

TEST(TransformHost, DrivesTheFilterInTheFrameworksOrder) {
  Created c = CreateFilter();
  {
    AppPipeline p(ElementFor(c), testpipeline::RawAudioCaps("S16LE", 1, 44100));
    ASSERT_TRUE(p.Linked());
    const auto ramp = Ramp(500);
    for (int i = 0; i < 3; ++i)
      p.Push(ramp.data(), ramp.size() * 2, static_cast<GstClockTime>(i) * 11337868, 11337868);
    ASSERT_TRUE(p.Finish().eos);

    const std::vector<std::string> expected = {
        "CheckInputType",      "SetMediaType input", "GetMediaType 0", "CheckTransform",
        "SetMediaType output", "DecideBufferSize",   "Transform"};
    EXPECT_EQ(c.filter->Calls(), expected);
    EXPECT_EQ(c.filter->TimesNotCopied(), 0);
    EXPECT_TRUE(c.filter->InputPin().IsConnected());
    EXPECT_EQ(c.filter->OutputPin().CurrentMediaType(), c.filter->InputPin().CurrentMediaType());
    EXPECT_EQ(std::u16string_view(c.filter->InputPin().Name()), u"XForm In");
    EXPECT_EQ(std::u16string_view(c.filter->OutputPin().Name()), u"XForm Out");

    const auto out = p.Output();
    ASSERT_EQ(out.size(), 3u);
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(testpipeline::Contents<std::int16_t>(out[i].get()), ramp);
      EXPECT_EQ(GST_BUFFER_PTS(out[i].get()), i * 11337868);
      EXPECT_EQ(GST_BUFFER_DURATION(out[i].get()), 11337868u);
    }
  }
  // Stopping the element takes the pins' types away.
  EXPECT_FALSE(c.filter->InputPin().IsConnected());
  EXPECT_FALSE(c.filter->OutputPin().IsConnected());
}

TEST(TransformHost, RefusedInputFailsNegotiationWithOneMessage) {
  Created c = CreateFilter();
  AppPipeline p(ElementFor(c), testpipeline::RawAudioCaps("F32LE", 2, 48000));
  p.Push(std::vector<float>(64, 0.5f));
  p.Push(std::vector<float>(64, 0.5f));
  const auto outcome = p.Finish();
  EXPECT_FALSE(outcome.eos);
  EXPECT_EQ(outcome.error,
            "Recording Transform does not accept this audio: F32LE, 2 channels, 48000 Hz.");
  EXPECT_EQ(c.filter->Calls(), std::vector<std::string>{"CheckInputType"});
}

TEST(TransformHost, BigAndMisalignedBuffersArriveWhole) {
  Created c = CreateFilter();
  c.filter->bufferSize = 64;
  AppPipeline p(ElementFor(c), testpipeline::RawAudioCaps("S16LE", 2, 8000));
  const auto ramp = Ramp(600);
  p.Push(ramp);
  // Memory at an odd address, as a demuxer's sub-buffer may have it.
  std::vector<BYTE> backing(ramp.size() * 2 + 1);
  std::memcpy(backing.data() + 1, ramp.data(), ramp.size() * 2);
  p.Push(gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, backing.data(), backing.size(), 1,
                                     ramp.size() * 2, nullptr, nullptr));
  ASSERT_TRUE(p.Finish().eos);
  const auto out = p.Output();
  ASSERT_EQ(out.size(), 2u);
  for (const auto& buffer : out)
    EXPECT_EQ(testpipeline::Contents<std::int16_t>(buffer.get()), ramp);
}

TEST(TransformHost, ADroppedSampleMarksTheNextOneDiscontinuous) {
  Created c = CreateFilter();
  c.filter->dropSample = 2;
  AppPipeline p(ElementFor(c), testpipeline::RawAudioCaps("S16LE", 1, 8000));
  for (int i = 0; i < 4; ++i) p.Push(Ramp(8));
  ASSERT_TRUE(p.Finish().eos);
  // The second input is dropped; the source marks only the first one.
  const auto out = p.Output();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(out[1].get(), GST_BUFFER_FLAG_DISCONT));
  EXPECT_FALSE(GST_BUFFER_FLAG_IS_SET(out[2].get(), GST_BUFFER_FLAG_DISCONT));
}

TEST(TransformHost, AllocatorRefusalFailsWithAMessage) {
  Created c = CreateFilter();
  c.filter->bufferSize = -1;
  AppPipeline p(ElementFor(c), testpipeline::RawAudioCaps("S16LE", 1, 8000));
  p.Push(Ramp(8));
  EXPECT_EQ(p.Finish().error, "Recording Transform could not set up its output buffers.");
}

TEST(TransformHost, OneElementPerFilterAndFactoryMadeElements) {
  Created c = CreateFilter();
  GstElement* first = ElementFor(c);
  gst_object_ref_sink(first);
  GstElement* second = nullptr;
  EXPECT_EQ(c.host->CreateElement(&second), E_ELEMENT_IN_USE);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(HostedFilter(first), c.filter);

  // The property hands out the filter's identity with a reference.
  IUnknown* identity = nullptr;
  g_object_get(first, "filter", &identity, nullptr);
  ComPtr<IUnknown> expected;
  ASSERT_EQ(c.host.As(IID_IUnknown, expected), S_OK);
  EXPECT_EQ(identity, expected.Get());
  ComPtr<IUnknown>::Attach(identity);

  gst_object_unref(first);
  ASSERT_EQ(c.host->CreateElement(&second), S_OK);
  gst_object_unref(gst_object_ref_sink(second));

  // An element made by name creates a filter of its own.
  GstElement* byName = gst_element_factory_make("recordingtransform", nullptr);
  ASSERT_NE(byName, nullptr);
  EXPECT_NE(HostedFilter(byName), nullptr);
  EXPECT_NE(HostedFilter(byName), c.filter);
  gst_object_unref(gst_object_ref_sink(byName));
}

}  // namespace
