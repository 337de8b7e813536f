#pragma once

// Decoder filters made through the library's class factory, and telemetry
// audio laid out in any number of channels.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/filter/brelane_telemetry_decode.h"
#include "decoder/filter/quorvex_library.h"
#include "platform/com/com_ptr.h"
#include "tests/decoder/slot_signal.h"

namespace filtertest {

// `frames` battery frames, each with its lead-in, then a little idle line.
inline std::vector<std::int16_t> TelemetryAudio(std::uint32_t rate, int frames) {
  testsignal::SlotSignal s(rate, CDecodeEngine::kDefaultSlotRate);
  for (int i = 0; i < frames; ++i) {
    const BatteryRecord battery{static_cast<std::uint16_t>(11800 + i), 250, 3200};
    std::vector<std::uint8_t> payload(sizeof battery);
    std::memcpy(payload.data(), &battery, sizeof battery);
    s.AddFrame(testsignal::Frame(kFrameBattery, payload));
  }
  s.Low(rate / 10);
  return s.Samples();
}

// Channel `telemetry` of `channels` carries `signal`; the others a quiet
// ramp, so that a decoder listening to the wrong one finds nothing.
inline std::vector<std::int16_t> Interleave(const std::vector<std::int16_t>& signal, int channels,
                                            int telemetry) {
  std::vector<std::int16_t> out(signal.size() * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < signal.size(); ++i)
    for (int c = 0; c < channels; ++c)
      out[i * channels + c] = c == telemetry ? signal[i] : static_cast<std::int16_t>(i % 64 - 32);
  return out;
}

inline int GoodPackets(IQuorvex* decoder) {
  int good = -1, bad = -1;
  EXPECT_EQ(decoder->GetPacketCounts(&good, &bad), S_OK);
  return good;
}

// One filter from the class factory, held through its own IUnknown.
struct Decoder {
  Decoder() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(CLSID_Quorvex, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IGstElementHost> host;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IGstElementHost, host.PutVoid()), S_OK);
    filter = static_cast<BrelaneTelemetryDecode*>(static_cast<CTransformFilter*>(host.Get()));
    EXPECT_EQ(host.As(IID_IUnknown, identity), S_OK);
    EXPECT_EQ(identity.As(IID_IQuorvex, quorvex), S_OK);
  }
  BrelaneTelemetryDecode* operator->() const { return filter; }

  ComPtr<IUnknown> identity;
  ComPtr<IQuorvex> quorvex;
  BrelaneTelemetryDecode* filter = nullptr;
};

}  // namespace filtertest
