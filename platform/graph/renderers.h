#pragma once

#include <gst/gst.h>

#include <memory>
#include <mutex>

#include "platform/gst/graph_interfaces.h"

// The elements the graph makes itself: renderers and capture sources, each a
// bin whose one ghost pad carries the pin identifier.

// Renderers convert what they are given themselves: the graph links
// streams straight into them, with no converters of its own in between.
void MarkConvertsInput(GstElement* element);
bool ConvertsInput(GstElement* element);

// Converts whatever raw audio arrives and plays it on the audio output, or
// on a clock-paced sink where there is none. Floating reference.
GstElement* MakeAudioRenderer();

// The state a video renderer shares with its streaming thread: the surface
// frames go to, and where and whether it shows them.
class VideoOutput {
 public:
  void SetOwner(IVideoSurface* owner);
  bool HasOwner();
  void SetStyle(long style);
  void Place(long left, long top, long width, long height);
  void Show(bool visible);
  // From the streaming thread.
  void Present(const VideoFrame& frame);

 private:
  std::mutex lock_;
  IVideoSurface* owner_ = nullptr;
  long style_ = 0;
};

// Converts raw video to 32-bit BGRx and hands each frame to `output`.
// Floating reference.
GstElement* MakeVideoRenderer(std::shared_ptr<VideoOutput> output);

// The source of one capture device, offering 16-bit PCM. Floating
// reference; null when the device cannot make an element.
GstElement* MakeCaptureSource(GstDevice* device);
