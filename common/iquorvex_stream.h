#pragma once

#include "platform/com/class_factory.h"
#include "platform/com/unknown.h"

// What the decoder knows about the stream it is fed, beside IQuorvex, whose
// layout never changes. The decoder filter offers it through QueryInterface;
// a decoder without it is an older one. The method order is the vtable
// layout: never reorder, insert or remove a method.

// {245605B6-8F8E-4A8D-A3E5-0F347534B2C5}
inline constexpr IID IID_IQuorvexStream{
    0x245605B6, 0x8F8E, 0x4A8D, {0xA3, 0xE5, 0x0F, 0x34, 0x75, 0x34, 0xB2, 0xC5}};

struct IQuorvexStream : IUnknown {
  // Position frames decoded since the decoder was made. Until there is one,
  // IQuorvex::GetPosition returns a zero record that is no fix; a real fix
  // at 0 deg N 0 deg E counts like any other.
  virtual HRESULT STDMETHODCALLTYPE GetPositionFrameCount(int* count) = 0;
  // TRUE: the audio is a recording, each buffer placed in it by its time
  // stamp. Audio the decoder has already decoded once (the pilot sought
  // back, or played the recording again) is passed on but not decoded
  // again, and a stretch decoded after a later one (skipped by a seek
  // forward, played later) has its records placed among the others, so the
  // histories hold each stretch of the flight once and in recording order.
  // Keys of records held may change when such a stretch is decoded. FALSE,
  // the default: every buffer is decoded (live audio).
  virtual HRESULT STDMETHODCALLTYPE SetRecordingTimeline(BOOL enabled) = 0;

 protected:
  ~IQuorvexStream() = default;
};
