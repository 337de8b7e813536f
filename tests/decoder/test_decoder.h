#pragma once

// A decoder with a plain reference count, fed through the same buffer loop
// the filter uses, for tests of the control interface.

#include <atomic>
#include <filesystem>
#include <optional>
#include <vector>

#include <cstring>

#include "decoder/control_interface/quorvex_control.h"
#include "tests/decoder/slot_signal.h"

class TestDecoder final : public CQuorvexControl {
 public:
  explicit TestDecoder(const std::optional<std::filesystem::path>& nmeaPath = std::nullopt,
                       std::uint32_t sampleRate = 44100)
      : CQuorvexControl(nmeaPath) {
    SetSampleRate(sampleRate);
  }
  ~TestDecoder() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IQuorvex) {
      *object = static_cast<IQuorvex*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  void FeedMono(const std::vector<std::int16_t>& samples) {
    std::vector<std::int16_t> out(samples.size());
    ProcessBuffer(samples.data(), out.data(), samples.size(), 1);
  }

  using CQuorvexControl::Engine;
  using CQuorvexControl::Lock;

 private:
  std::atomic<ULONG> refs_{1};
};

// Feeds frames in order through the decoder's audio path.
class Sender {
 public:
  explicit Sender(TestDecoder& d) : decoder_(d) {}
  Sender& Position(const PositionRecord& r) { return Add(1, &r, sizeof r); }
  Sender& UplinkFrame(const UplinkRecord& r) { return Add(3, &r, sizeof r); }
  Sender& Battery(const BatteryRecord& r) { return Add(2, &r, sizeof r); }
  Sender& Add(const std::vector<std::uint8_t>& frame) {
    testsignal::SlotSignal s(44100, 4777);
    s.AddFrame(frame);
    decoder_.FeedMono(s.Samples());
    return *this;
  }

 private:
  Sender& Add(std::uint8_t type, const void* record, std::size_t size) {
    std::vector<std::uint8_t> payload(size);
    std::memcpy(payload.data(), record, size);
    return Add(testsignal::Frame(type, payload));
  }

  TestDecoder& decoder_;
};
