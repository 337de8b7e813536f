#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "platform/com/bstr.h"
#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "platform/gst/gst_filter.h"
#include "tests/platform/graph_media.h"
#include "tests/sound_server.h"

namespace {

ComPtr<IEnumMoniker> AudioInputs(HRESULT* result = nullptr) {
  ComPtr<ICreateDevEnum> devices;
  EXPECT_EQ(CreateGraphObject(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, devices.PutVoid()), S_OK);
  ComPtr<IEnumMoniker> monikers;
  const HRESULT hr =
      devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0);
  if (result) *result = hr;
  return monikers;
}

// Points the sound client at a server that does not exist, for one test.
class NoSoundServer {
 public:
  NoSoundServer() {
    if (const char* old = std::getenv("PULSE_SERVER")) saved_ = old;
    ::setenv("PULSE_SERVER", "unix:/nonexistent/vistaro-pulse", 1);
  }
  ~NoSoundServer() {
    if (saved_) {
      ::setenv("PULSE_SERVER", saved_->c_str(), 1);
    } else {
      ::unsetenv("PULSE_SERVER");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(AudioInputDevices, NoSoundServerMeansNoEnumerator) {
  NoSoundServer none;
  HRESULT hr = E_FAIL;
  EXPECT_FALSE(AudioInputs(&hr));
  EXPECT_EQ(hr, S_FALSE);

  ComPtr<ICreateDevEnum> devices;
  ASSERT_EQ(CreateGraphObject(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, devices.PutVoid()), S_OK);
  ComPtr<IEnumMoniker> other;
  EXPECT_EQ(devices->CreateClassEnumerator(CLSID_FilterGraph, other.Put(), 0), S_FALSE);
  EXPECT_FALSE(other);
}

// The sound server's default input is captured as 16-bit PCM and goes
// through a filter to the audio output with nothing in between.
TEST(AudioInputDevices, DefaultInputCapturesSixteenBitPcmIntoALiveGraph) {
  REQUIRE_SOUND_SERVER();

  auto monikers = AudioInputs();
  ASSERT_TRUE(monikers);
  ComPtr<IMoniker> device;
  ASSERT_EQ(monikers->Next(1, device.Put(), nullptr), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(device->GetDisplayName(nullptr, nullptr, &name), S_OK);
  EXPECT_EQ(Utf16ToUtf8(ComBstr::Attach(name).View()), "@device:gst:Monitor of vistaro_line");
  ComPtr<IMoniker> second;
  EXPECT_EQ(monikers->Next(1, second.Put(), nullptr), S_FALSE);
  ComPtr<IBaseFilter> capture;
  ASSERT_EQ(device->BindToObject(nullptr, nullptr, IID_IBaseFilter, capture.PutVoid()), S_OK);
  auto captureOut = Pin(capture.Get(), kCapturePinId);
  ASSERT_TRUE(captureOut);

  auto graph = NewGraph();
  auto decoder = ElementFilter("volume");
  ComPtr<IBaseFilter> output;
  ASSERT_EQ(CreateGraphObject(CLSID_DSoundRender, IID_IBaseFilter, output.PutVoid()), S_OK);
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Telemetry Decode"), S_OK);
  ASSERT_EQ(graph->AddFilter(capture.Get(), u"Audio Capture"), S_OK);
  ASSERT_EQ(graph->AddFilter(output.Get(), u"Default DirectSound Device"), S_OK);
  ASSERT_EQ(
      graph->ConnectDirect(captureOut.Get(), FirstPin(decoder.Get(), PINDIR_INPUT).Get(), nullptr),
      S_OK);
  ASSERT_EQ(graph->ConnectDirect(FirstPin(decoder.Get(), PINDIR_OUTPUT).Get(),
                                 Pin(output.Get(), kAudioRendererPinId).Get(), nullptr),
            S_OK);
  EXPECT_EQ(FilterNames(graph.Get()).size(), 3u);

  BufferCounter captured(FirstPin(decoder.Get(), PINDIR_INPUT).Get());
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  control->Stop();
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  for (int i = 0; i < 50 && captured.Count() < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_GE(captured.Count(), 5);

  GstObjectPtr<GstPad> pad = PadOfPin(captureOut.Get());
  GstCapsPtr caps(gst_pad_get_current_caps(pad.get()));
  ASSERT_TRUE(caps);
  EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(caps.get(), 0), "format"), "S16LE");
  control->Stop();
}

}  // namespace
