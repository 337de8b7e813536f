#include <gtest/gtest.h>

#include "platform/filter/gst_media_sample.h"
#include "platform/filter/gst_media_type.h"
#include "tests/platform/filter/app_pipeline.h"

namespace {

CMediaType FromCaps(const std::string& caps) {
  testpipeline::InitGstreamer();
  const GstCapsPtr parsed(gst_caps_from_string(caps.c_str()));
  return MediaTypeFromCaps(parsed.get());
}

TEST(CapsToMediaType, WaveFormatsForTheLayoutsThePlatformNames) {
  struct Case {
    const char* format;
    GUID subtype;
    std::uint16_t tag, bits;
  };
  for (const Case& c : {Case{"S16LE", MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 16},
                        Case{"U8", MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 8},
                        Case{"S24LE", MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 24},
                        Case{"S32LE", MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 32},
                        Case{"F32LE", MEDIASUBTYPE_IEEE_FLOAT, WAVE_FORMAT_IEEE_FLOAT, 32}}) {
    const CMediaType type = FromCaps(testpipeline::RawAudioCaps(c.format, 6, 48000));
    EXPECT_EQ(*type.Type(), MEDIATYPE_Audio) << c.format;
    EXPECT_EQ(*type.Subtype(), c.subtype) << c.format;
    ASSERT_EQ(*type.FormatType(), FORMAT_WaveFormatEx) << c.format;
    ASSERT_EQ(type.FormatLength(), sizeof(WAVEFORMATEX));
    const WAVEFORMATEX wf = *WaveFormatOf(type);
    EXPECT_EQ(wf.wFormatTag, c.tag);
    EXPECT_EQ(wf.nChannels, 6);
    EXPECT_EQ(wf.nSamplesPerSec, 48000u);
    EXPECT_EQ(wf.wBitsPerSample, c.bits);
    EXPECT_EQ(wf.nBlockAlign, 6 * c.bits / 8);
    EXPECT_EQ(wf.nAvgBytesPerSec, 48000u * wf.nBlockAlign);
    EXPECT_EQ(wf.cbSize, 0);

    // And back: the output caps of a filter that keeps its input type.
    const GstCapsPtr caps = CapsFromMediaType(type);
    ASSERT_TRUE(caps) << c.format;
    EXPECT_EQ(MediaTypeFromCaps(caps.get()), type);
  }
}

TEST(CapsToMediaType, AudioWithoutAWaveFormatHasNoSubtype) {
  // Each of these would be misread as PCM of some width if it had one.
  for (const std::string& caps :
       {testpipeline::RawAudioCaps("S16BE", 2, 44100), testpipeline::RawAudioCaps("S8", 1, 8000),
        testpipeline::RawAudioCaps("U16LE", 1, 8000),
        testpipeline::RawAudioCaps("S24_32LE", 2, 48000),
        std::string("audio/x-raw,format=S16LE,layout=non-interleaved,channels=2,rate=44100"),
        std::string("audio/mpeg,mpegversion=1,layer=3")}) {
    const CMediaType type = FromCaps(caps);
    EXPECT_EQ(*type.Type(), MEDIATYPE_Audio) << caps;
    EXPECT_EQ(*type.Subtype(), GUID_NULL) << caps;
    EXPECT_EQ(type.Format(), nullptr) << caps;
    EXPECT_FALSE(CapsFromMediaType(type)) << caps;
  }
  EXPECT_FALSE(FromCaps("video/x-raw,format=I420,width=2,height=2").IsValid());
  EXPECT_EQ(FromCaps("audio/x-raw,format=S16LE,layout=interleaved,channels=2").Format(), nullptr);
  EXPECT_FALSE(FromCaps("audio/x-raw,format={S16LE,U8}").IsValid());  // not fixed
}

TEST(MediaTypeHolder, OwnsItsFormatBlockAndReadsTheShortPcmRecord) {
  const CMediaType a = MakeAudioType(MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 2, 22050, 16);
  CMediaType b = a;
  b.Format()[0] = 0x7F;
  EXPECT_FALSE(a == b);
  // The older 16-byte PCM record reads with cbSize 0; anything shorter is
  // no wave format.
  b.SetFormat(a.Format(), 16);
  ASSERT_TRUE(WaveFormatOf(b));
  EXPECT_EQ(WaveFormatOf(b)->wBitsPerSample, 16);
  EXPECT_EQ(WaveFormatOf(b)->cbSize, 0);
  b.SetFormat(a.Format(), 15);
  EXPECT_FALSE(WaveFormatOf(b));
}

TEST(GstBufferSample, MapsMetadataAndWritesBackOnlyWhatChanged) {
  testpipeline::InitGstreamer();
  GstBufferPtr buffer(gst_buffer_new_allocate(nullptr, 64, nullptr));
  // 1/44100 s steps are not whole 100 ns units.
  GST_BUFFER_PTS(buffer.get()) = 22675737;
  GST_BUFFER_DURATION(buffer.get()) = 1451247;
  GST_BUFFER_OFFSET(buffer.get()) = 1000;
  GST_BUFFER_OFFSET_END(buffer.get()) = 1064;
  GST_BUFFER_FLAG_SET(buffer.get(), GST_BUFFER_FLAG_DISCONT);
  {
    CGstBufferSample sample(buffer.get(), GST_MAP_WRITE);
    IMediaSample* s = sample.Sample();
    REFERENCE_TIME start = 0, stop = 0;
    ASSERT_EQ(s->GetTime(&start, &stop), S_OK);
    EXPECT_EQ(start, 226757);
    EXPECT_EQ(stop, 241269);
    LONGLONG m0 = 0, m1 = 0;
    ASSERT_EQ(s->GetMediaTime(&m0, &m1), S_OK);
    EXPECT_EQ(m1 - m0, 64);
    EXPECT_EQ(s->IsSyncPoint(), S_OK);
    EXPECT_EQ(s->IsDiscontinuity(), S_OK);
    EXPECT_EQ(s->IsPreroll(), S_FALSE);
    s->SetPreroll(TRUE);
    s->SetSyncPoint(FALSE);
    s->SetActualDataLength(10);
    sample.Commit();
  }
  EXPECT_EQ(GST_BUFFER_PTS(buffer.get()), 22675737u);
  EXPECT_EQ(GST_BUFFER_DURATION(buffer.get()), 1451247u);
  EXPECT_EQ(gst_buffer_get_size(buffer.get()), 10u);
  EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(buffer.get(), GST_BUFFER_FLAG_DECODE_ONLY));
  EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(buffer.get(), GST_BUFFER_FLAG_DELTA_UNIT));
  {
    CGstBufferSample sample(buffer.get(), GST_MAP_WRITE);
    REFERENCE_TIME start = 5000;
    sample.Sample()->SetTime(&start, nullptr);
    sample.Sample()->SetMediaTime(nullptr, nullptr);
    sample.Commit();
  }
  EXPECT_EQ(GST_BUFFER_PTS(buffer.get()), 500000u);
  EXPECT_FALSE(GST_CLOCK_TIME_IS_VALID(GST_BUFFER_DURATION(buffer.get())));
  EXPECT_FALSE(GST_BUFFER_OFFSET_IS_VALID(buffer.get()));
}

TEST(GstPoolAllocator, GrantsTheRequestAndRefusesOnceCommitted) {
  testpipeline::InitGstreamer();
  GstObjectPtr<GstBufferPool> pool(gst_buffer_pool_new());
  const GstCapsPtr caps(
      gst_caps_from_string(testpipeline::RawAudioCaps("S16LE", 1, 44100).c_str()));
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  CGstPoolAllocator allocator(pool.get(), caps.get(), nullptr, params);
  ALLOCATOR_PROPERTIES request{3, 88200, 16, 8}, actual;
  ASSERT_EQ(allocator.SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 3);
  EXPECT_EQ(actual.cbBuffer, 88200);
  EXPECT_EQ(actual.cbAlign, 16);
  EXPECT_EQ(actual.cbPrefix, 8);
  request.cbAlign = 3;
  EXPECT_EQ(allocator.SetProperties(&request, &actual), VFW_E_BADALIGN);
  request.cbAlign = 1;
  ASSERT_TRUE(gst_buffer_pool_set_active(pool.get(), TRUE));
  EXPECT_EQ(allocator.SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
  gst_buffer_pool_set_active(pool.get(), FALSE);
}

}  // namespace
