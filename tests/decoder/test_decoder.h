#pragma once

// A decoder with a plain reference count, fed through the same buffer loop
// the filter uses, for tests of the control interface.

#include <atomic>
#include <filesystem>
#include <optional>
#include <vector>

#include "decoder/control_interface/quorvex_control.h"

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
