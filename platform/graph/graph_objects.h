#pragma once

#include "platform/gst/graph_interfaces.h"

// The platform's own media objects, created in-process without the
// component registry:
//   CLSID_FilterGraph           IGraphBuilder, IFilterGraph, IMediaControl,
//                               IMediaEvent(Ex), IMediaSeeking, IVideoWindow
//   CLSID_CaptureGraphBuilder2  ICaptureGraphBuilder2
//   CLSID_SystemDeviceEnum      ICreateDevEnum
//   CLSID_DSoundRender          IBaseFilter: the default audio output
// REGDB_E_CLASSNOTREG for any other class; E_FAIL when GStreamer cannot
// start. The object slot is null after a failure.
HRESULT CreateGraphObject(REFCLSID clsid, REFIID iid, void** object);

// How renderers made from now on behave; process-wide.
struct GraphRenderingOptions {
  // Renderers keep to the clock. Off, files play as fast as they decode,
  // for tests where the pace is not what is tested.
  bool realTime = true;
  // Sound goes to the machine's audio output when it has one; otherwise,
  // or when this is off, to a sink that only keeps the pace.
  bool audioDevice = true;
};
void SetGraphRenderingOptions(const GraphRenderingOptions& options);
GraphRenderingOptions CurrentGraphRenderingOptions();

// Names the graph gives what it makes.
inline constexpr char16_t kAudioRendererName[] = u"Audio Renderer";
inline constexpr char16_t kVideoRendererName[] = u"Video Renderer";
inline constexpr char16_t kAudioRendererPinId[] = u"Audio Input pin (rendered)";
inline constexpr char16_t kVideoRendererPinId[] = u"Input";
inline constexpr char16_t kCapturePinId[] = u"Capture";
