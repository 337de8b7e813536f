// The contract between the two deliverables, seen from the viewer's side.
// This program links no part of the decoder: it registers the library,
// creates the filter by class identifier, streams audio through it in a
// GStreamer pipeline and reads the telemetry back through IQuorvex, exactly
// as the viewer will.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/iquorvex.h"
#include "platform/com/co_create.h"
#include "platform/com/com_ptr.h"
#include "platform/filter/element_host.h"
#include "tests/common/scratch_folder.h"
#include "tests/tools/run_process.h"

namespace {

namespace fs = std::filesystem;

constexpr char kFlightLog[] =
    "position,12:34:56.789,47.25,8.5,40050,9\n"
    "uplink,200,190,95,1,-3,12,480,2,1,2,3,4,5,6,7,8\n"
    "battery,11840,1500,-2500\n"
    "position,12:34:57.289,-33.75,-70.5,-1250,10\n";

// The canonical 44-byte header the generator writes, then the samples.
std::vector<std::int16_t> WavSamples(const fs::path& wav) {
  const std::string bytes = ReadFile(wav);
  std::vector<std::int16_t> samples((bytes.size() - 44) / 2);
  std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
  return samples;
}

HRESULT CreateByClass(ComPtr<IUnknown>& object) {
  return CoCreateInstance(CLSID_Quorvex, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          object.PutVoid());
}

// filesrc ! wavparse ! ELEMENT ! appsink; the samples that came out.
std::vector<std::int16_t> Stream(const fs::path& wav, GstElement* filter) {
  GstElement* pipeline = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  GstElement* parse = gst_element_factory_make("wavparse", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  g_object_set(source, "location", wav.c_str(), nullptr);
  g_object_set(sink, "sync", FALSE, nullptr);
  gst_bin_add_many(GST_BIN(pipeline), source, parse, filter, sink, nullptr);
  EXPECT_TRUE(gst_element_link_many(source, parse, filter, sink, nullptr));
  gst_element_set_state(pipeline, GST_STATE_PLAYING);

  std::vector<std::int16_t> out;
  while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const auto* values = reinterpret_cast<const std::int16_t*>(map.data);
      out.insert(out.end(), values, values + map.size / 2);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  EXPECT_EQ(error, nullptr) << "the pipeline failed";
  if (error) gst_message_unref(error);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return out;
}

TEST(DecoderByClassId, RegisterCreateStreamReadUnregister) {
  ScratchFolder folder;
  ::unsetenv("VISTARO_COMPONENT_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  std::ofstream(folder / "flight.csv") << kFlightLog;
  const fs::path wav = folder / "flight.wav";
  ASSERT_EQ(RunProcess({QUORVEX_ENCODE_PATH, "--log", (folder / "flight.csv").string(), "--stereo",
                        "right", "--other", "tone", "-o", wav.string()})
                .exitCode,
            0);

  ComPtr<IUnknown> object;
  ASSERT_EQ(CreateByClass(object), REGDB_E_CLASSNOTREG);
  const ProcessResult registered = RunProcess({REGSVR_PATH, QUORVEX_LIBRARY_PATH});
  ASSERT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_NE(ReadFile(folder / "config" / "Aviquent" / "components.ini")
                .find("D1C20293-1AE8-427C-8A89-80BAA8DB148A"),
            std::string::npos);

  ASSERT_EQ(CreateByClass(object), S_OK);
  ComPtr<IQuorvex> control;
  ASSERT_EQ(object.As(IID_IQuorvex, control), S_OK);
  ASSERT_EQ(control->SetBitRate(4777), S_OK);
  ASSERT_EQ(control->SetAudioChannel(1), S_OK);
  ComPtr<IGstElementHost> host;
  ASSERT_EQ(object.As(IID_IGstElementHost, host), S_OK);
  GstElement* element = nullptr;
  ASSERT_EQ(host->CreateElement(&element), S_OK);
  ASSERT_NE(element, nullptr);

  const std::vector<std::int16_t> in = WavSamples(wav);
  const std::vector<std::int16_t> out = Stream(wav, element);
  // The pilot hears the whole recording, faint.
  ASSERT_EQ(out.size(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(out[i], static_cast<std::int16_t>(in[i] * 0.05)) << "sample " << i;
  }

  int good = 0, bad = 0, count = 0;
  control->GetPacketCounts(&good, &bad);
  control->GetRecordCount(&count);
  EXPECT_EQ(good, 4);
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(count, 4);
  int timeMs = 0, sats = 0;
  float lon = 0, lat = 0, alt = 0, above = 0, heading = 0, distance = 0, travelled = 0;
  control->GetPosition(&timeMs, &lon, &lat, &alt, &above, &heading, &distance, &travelled, &sats);
  EXPECT_EQ(timeMs, 45297289);
  EXPECT_EQ(lon, -70.5f);
  EXPECT_EQ(lat, -33.75f);
  EXPECT_EQ(alt, -12.5f);
  EXPECT_EQ(sats, 10);
  int u[8], channels[12] = {};
  control->GetUplinkStatus(&u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7], channels);
  EXPECT_EQ(std::vector<int>(u, u + 8), (std::vector<int>{200, 190, 95, 1, -3, 12, 480, 2}));
  EXPECT_EQ(std::vector<int>(channels, channels + 8), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  int voltage = 0, capacity = 0, current = 0;
  control->GetBatteryStatus(&voltage, &capacity, &current);
  EXPECT_EQ(voltage, 11840);
  EXPECT_EQ(capacity, 1500);
  EXPECT_EQ(current, -2500);

  host.Reset();
  control.Reset();
  object.Reset();
  const ProcessResult unregistered = RunProcess({REGSVR_PATH, "-u", QUORVEX_LIBRARY_PATH});
  ASSERT_EQ(unregistered.exitCode, 0) << unregistered.err;
  EXPECT_EQ(ReadFile(folder / "config" / "Aviquent" / "components.ini")
                .find("D1C20293-1AE8-427C-8A89-80BAA8DB148A"),
            std::string::npos);
  EXPECT_EQ(CreateByClass(object), REGDB_E_CLASSNOTREG);
}

}  // namespace
