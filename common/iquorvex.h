#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

// The decoder's control interface: the binary contract between the decoder
// library and the viewer, which reaches it only by class identifier. The
// method order below is the vtable layout both sides compile against; never
// reorder, insert or remove a method.

inline constexpr CLSID CLSID_Quorvex{
    0xD1C20293, 0x1AE8, 0x427C, {0x8A, 0x89, 0x80, 0xBA, 0xA8, 0xDB, 0x14, 0x8A}};
inline constexpr IID IID_IQuorvex{
    0x07890C8E, 0xDF65, 0x478B, {0xB8, 0xAF, 0x70, 0x4A, 0x0D, 0xA0, 0x2C, 0x01}};

// Degrees and metres are 32-bit floats; longitude always precedes latitude.
// The history look-ups (…At) return S_FALSE for a key they do not hold and
// then leave every out-parameter untouched.
struct IQuorvex : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetSerialPort(BSTR portName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPacketCounts(int* goodPackets, int* badPackets) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPosition(int* timeMs, float* longitude, float* latitude,
                                                float* altitude, float* altitudeAboveLaunch,
                                                float* heading, float* distance,
                                                float* distanceTravelled, int* numSats) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteTrackKml(BSTR path) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearTrack() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUplinkStatus(int* rssiValue1, int* rssiValue2,
                                                    int* linkQuality, int* nFailsafes,
                                                    int* freqError, int* iCurrentBin,
                                                    int* nGoodPacketsThisBin,
                                                    int* nBadPacketsThisBin, int channels[12]) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBatteryStatus(int* voltage, int* capacityUsed,
                                                     int* current) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAudioChannel(int channel) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPositionAt(int key, int* timeMs, float* longitude,
                                                  float* latitude, float* altitude,
                                                  float* altitudeAboveLaunch, float* heading,
                                                  float* distance, int* numSats) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUplinkStatusAt(int key, int* rssiValue1, int* rssiValue2,
                                                      int* linkQuality, int* nFailsafes,
                                                      int* freqError, int* iCurrentBin,
                                                      int* nGoodPacketsThisBin,
                                                      int* nBadPacketsThisBin) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBatteryStatusAt(int key, int* voltage, int* capacityUsed,
                                                       int* current) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRecordCount(int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBitRate(int slotRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLaunchSite(float* longitude, float* latitude,
                                                  float* altitude) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLaunchSite(float longitude, float latitude,
                                                  float altitude) = 0;

 protected:
  ~IQuorvex() = default;
};
