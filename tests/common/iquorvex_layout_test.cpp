// The vtable of IQuorvex is the binary contract between the decoder library
// and the viewer. Each slot is called here through a plain function pointer
// of the platform ABI, so a reordered or changed method fails.

#include <gtest/gtest.h>

#include "common/iquorvex.h"

namespace {

struct SlotRecorder final : IQuorvex {
  int last = -1;
  int intArg = 0;
  float floatArg = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return last = 0, S_OK; }
  ULONG STDMETHODCALLTYPE AddRef() override { return last = 1, 1; }
  ULONG STDMETHODCALLTYPE Release() override { return last = 2, 1; }
  HRESULT STDMETHODCALLTYPE SetSerialPort(BSTR) override { return last = 3, S_OK; }
  HRESULT STDMETHODCALLTYPE GetPacketCounts(int*, int*) override { return last = 4, S_OK; }
  HRESULT STDMETHODCALLTYPE GetPosition(int*, float*, float*, float*, float*, float*, float*,
                                        float*, int* numSats) override {
    *numSats = 9;
    return last = 5, S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteTrackKml(BSTR) override { return last = 6, S_OK; }
  HRESULT STDMETHODCALLTYPE ClearTrack() override { return last = 7, S_OK; }
  HRESULT STDMETHODCALLTYPE GetUplinkStatus(int*, int*, int*, int*, int*, int*, int*, int*,
                                            int channels[12]) override {
    channels[11] = 11;
    return last = 8, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBatteryStatus(int*, int*, int* current) override {
    *current = -5;
    return last = 9, S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetAudioChannel(int channel) override {
    intArg = channel;
    return last = 10, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPositionAt(int key, int*, float*, float*, float*, float*, float*,
                                          float*, int*) override {
    intArg = key;
    return last = 11, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUplinkStatusAt(int key, int*, int*, int*, int*, int*, int*, int*,
                                              int*) override {
    intArg = key;
    return last = 12, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBatteryStatusAt(int key, int*, int*, int*) override {
    intArg = key;
    return last = 13, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRecordCount(int* count) override {
    *count = 42;
    return last = 14, S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBitRate(int rate) override {
    intArg = rate;
    return last = 15, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLaunchSite(float*, float*, float* altitude) override {
    *altitude = 400.5f;
    return last = 16, S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLaunchSite(float, float latitude, float) override {
    floatArg = latitude;
    return last = 17, S_OK;
  }
};

template <typename Fn>
Fn Slot(IQuorvex* q, int index) {
  void** vtable = *reinterpret_cast<void***>(q);
  return reinterpret_cast<Fn>(vtable[index]);
}

TEST(IQuorvexLayout, MethodsSitInTheirSlots) {
  SlotRecorder r;
  IQuorvex* q = &r;
  int i = 0, out[12] = {};
  float f = 0;
  using Void = HRESULT (*)(IQuorvex*);
  using Bstr = HRESULT (*)(IQuorvex*, BSTR);
  using Int = HRESULT (*)(IQuorvex*, int);

  Slot<Bstr>(q, 3)(q, nullptr);
  EXPECT_EQ(r.last, 3);
  Slot<HRESULT (*)(IQuorvex*, int*, int*)>(q, 4)(q, &i, &i);
  EXPECT_EQ(r.last, 4);
  Slot<HRESULT (*)(IQuorvex*, int*, float*, float*, float*, float*, float*, float*, float*, int*)>(
      q, 5)(q, &i, &f, &f, &f, &f, &f, &f, &f, &out[0]);
  EXPECT_EQ(r.last, 5);
  EXPECT_EQ(out[0], 9);
  Slot<Bstr>(q, 6)(q, nullptr);
  EXPECT_EQ(r.last, 6);
  Slot<Void>(q, 7)(q);
  EXPECT_EQ(r.last, 7);
  Slot<HRESULT (*)(IQuorvex*, int*, int*, int*, int*, int*, int*, int*, int*, int*)>(q, 8)(
      q, &i, &i, &i, &i, &i, &i, &i, &i, out);
  EXPECT_EQ(r.last, 8);
  EXPECT_EQ(out[11], 11);
  Slot<HRESULT (*)(IQuorvex*, int*, int*, int*)>(q, 9)(q, &i, &i, &out[1]);
  EXPECT_EQ(r.last, 9);
  EXPECT_EQ(out[1], -5);
  Slot<Int>(q, 10)(q, 1);
  EXPECT_EQ(r.last, 10);
  Slot<HRESULT (*)(IQuorvex*, int, int*, float*, float*, float*, float*, float*, float*, int*)>(
      q, 11)(q, 7, &i, &f, &f, &f, &f, &f, &f, &i);
  EXPECT_EQ(r.last, 11);
  EXPECT_EQ(r.intArg, 7);
  Slot<HRESULT (*)(IQuorvex*, int, int*, int*, int*, int*, int*, int*, int*, int*)>(q, 12)(
      q, 8, &i, &i, &i, &i, &i, &i, &i, &i);
  EXPECT_EQ(r.last, 12);
  EXPECT_EQ(r.intArg, 8);
  Slot<HRESULT (*)(IQuorvex*, int, int*, int*, int*)>(q, 13)(q, 9, &i, &i, &i);
  EXPECT_EQ(r.last, 13);
  Slot<HRESULT (*)(IQuorvex*, int*)>(q, 14)(q, &i);
  EXPECT_EQ(r.last, 14);
  EXPECT_EQ(i, 42);
  Slot<Int>(q, 15)(q, 9554);
  EXPECT_EQ(r.last, 15);
  EXPECT_EQ(r.intArg, 9554);
  Slot<HRESULT (*)(IQuorvex*, float*, float*, float*)>(q, 16)(q, &f, &f, &f);
  EXPECT_EQ(r.last, 16);
  EXPECT_EQ(f, 400.5f);
  Slot<HRESULT (*)(IQuorvex*, float, float, float)>(q, 17)(q, 8.5f, 47.25f, 400.0f);
  EXPECT_EQ(r.last, 17);
  EXPECT_EQ(r.floatArg, 47.25f);
}

}  // namespace
