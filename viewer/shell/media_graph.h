#pragma once

#include <functional>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/gst/graph_interfaces.h"
#include "viewer/shell/shell_services.h"

// The viewer's one media pipeline: playback of a recorded file or live
// capture from the first audio input, with the telemetry decoder in front
// of the audio renderer either way. Every method runs on the user-interface
// thread.
class MediaGraph {
 public:
  // The video area and the services must outlive the graph.
  explicit MediaGraph(IVideoArea* videoArea, IMessageService& messages,
                      IGraphServices& services = PlatformGraphServices());
  ~MediaGraph();
  MediaGraph(const MediaGraph&) = delete;
  MediaGraph& operator=(const MediaGraph&) = delete;

  // Given every new decoder before the graph runs, for the settings the
  // window hands each one: the first fix must already find them.
  void SetDecoderSetup(std::function<void(IBaseFilter*)> setup) {
    decoderSetup_ = std::move(setup);
  }

  HRESULT OpenMediaFile(std::u16string_view path);
  HRESULT StartLiveCapture();

  HRESULT PrepareGraph();
  HRESULT ObtainGraphInterfaces();
  HRESULT PublishGraph(IUnknown* graph, DWORD* registration);
  HRESULT EmptyGraph();
  HRESULT PlayStoredFile();
  HRESULT SpliceDecoder();
  HRESULT SpliceAtRenderer(IBaseFilter* renderer, const OLECHAR* pinId, IBaseFilter* decoder);
  // The caller owns the pin.
  static HRESULT FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);
  HRESULT AttachVideoWindow();
  HRESULT OpenFirstAudioInput(IBaseFilter** filter);
  // `format` holds at most one "%x", replaced by `value`.
  void ShowGraphMessage(const char* format, HRESULT value = S_OK);

  // What the transport buttons, the position display and the telemetry
  // refresh reach directly; null until a graph was prepared.
  IMediaControl* MediaControl() const { return mediaControl_.Get(); }
  IMediaSeeking* MediaSeeking() const { return mediaSeeking_.Get(); }
  IMediaEventEx* MediaEvents() const { return mediaEvents_.Get(); }
  IGraphBuilder* GraphBuilder() const { return graphBuilder_.Get(); }
  IBaseFilter* DecoderFilter() const { return decoderFilter_.Get(); }
  IBaseFilter* AudioCapture() const { return audioCapture_.Get(); }
  IBaseFilter* AudioRenderer() const { return audioRenderer_.Get(); }
  DWORD RotRegistration() const { return rotRegistration_; }
  const std::u16string& FilePath() const { return filePath_; }
  bool GraphReady() const { return graphReady_; }

 private:
  // Drops whatever a failed attempt left, so the next starts from nothing.
  void ReleaseGraphInterfaces();
  // A new decoder instance into decoderFilter.
  HRESULT CreateDecoder();

  IMessageService& messages_;
  IGraphServices& services_;

  IVideoArea* const videoArea_;
  DWORD rotRegistration_ = 0;
  std::u16string filePath_;
  ComPtr<IVideoWindow> videoWindow_;
  ComPtr<IMediaControl> mediaControl_;
  ComPtr<IMediaEventEx> mediaEvents_;
  ComPtr<IGraphBuilder> graphBuilder_;
  ComPtr<ICaptureGraphBuilder2> captureBuilder_;
  ComPtr<IBaseFilter> audioRenderer_;
  ComPtr<IBaseFilter> decoderFilter_;
  ComPtr<IBaseFilter> audioCapture_;
  ComPtr<IMediaSeeking> mediaSeeking_;
  bool graphReady_ = false;
  std::function<void(IBaseFilter*)> decoderSetup_;
};
