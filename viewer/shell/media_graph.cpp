#include "viewer/shell/media_graph.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "common/iquorvex.h"
#include "common/iquorvex_stream.h"
#include "platform/com/co_create.h"
#include "platform/com/utf.h"
#include "viewer/shell/nmea_output.h"

namespace {

constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr long kGraphNotifyMessage = 0x8001;  // WM_APP + 1

constexpr char16_t kDecoderName[] = u"Telemetry Decode";
constexpr char16_t kCaptureName[] = u"Audio Capture";
constexpr char16_t kDirectSoundName[] = u"Default DirectSound Device";
constexpr char16_t kRendererName[] = u"Audio Renderer";
constexpr char16_t kRendererPinId[] = u"Audio Input pin (rendered)";
constexpr char16_t kCaption[] = u"PlayCap Message";
constexpr char kNoInputMessage[] =
    "No audio input found: connect the video receiver's audio output to the line input, then "
    "press Live Capture again.";

// The ASF family is known by the file's own extension, in any case; the
// folders it lies in say nothing about it.
bool IsAsfPath(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"/\\");
  const std::size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return false;
  std::u16string extension = path.substr(dot);
  for (char16_t& c : extension) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return extension == u".asf" || extension == u".wmv" || extension == u".wma";
}

bool IsAudioRendererName(std::u16string_view name) {
  return name == kDirectSoundName || name == kRendererName;
}

}  // namespace

MediaGraph::MediaGraph(IVideoArea* videoArea, IMessageService& messages, IGraphServices& services)
    : messages_(messages), services_(services), videoArea_(videoArea) {}

MediaGraph::~MediaGraph() {
  // The graph may outlive this object through outside references, and its
  // streaming threads must not reach a video area that is going away.
  if (mediaControl_) mediaControl_->Stop();
  if (mediaEvents_) mediaEvents_->SetNotifyWindow(nullptr, 0, 0);
  if (videoWindow_) videoWindow_->put_Owner(nullptr);
  ReleaseGraphInterfaces();
}

void MediaGraph::ReleaseGraphInterfaces() {
  // The table's entry keeps the graph alive, so it goes first.
  if (rotRegistration_ != 0) {
    ComPtr<IRunningObjectTable> table;
    if (SUCCEEDED(services_.GetRunningObjectTable(table.Put())) && table) {
      table->Revoke(rotRegistration_);
    }
    rotRegistration_ = 0;
  }
  audioCapture_.Reset();
  decoderFilter_.Reset();
  audioRenderer_.Reset();
  mediaSeeking_.Reset();
  captureBuilder_.Reset();
  mediaEvents_.Reset();
  mediaControl_.Reset();
  videoWindow_.Reset();
  graphBuilder_.Reset();
}

HRESULT MediaGraph::OpenMediaFile(std::u16string_view path) {
  if (filePath_ != path) filePath_ = path;
  return PlayStoredFile();
}

HRESULT MediaGraph::ObtainGraphInterfaces() {
  // Whatever an earlier attempt left behind is not trusted: start over.
  ReleaseGraphInterfaces();

  HRESULT hr = services_.CreateObject(CLSID_FilterGraph, CLSCTX_INPROC, IID_IGraphBuilder,
                                      graphBuilder_.PutVoid());
  if (FAILED(hr)) return hr;
  hr = services_.CreateObject(CLSID_CaptureGraphBuilder2, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                              captureBuilder_.PutVoid());
  if (FAILED(hr)) return hr;

  hr = graphBuilder_->QueryInterface(IID_IMediaControl, mediaControl_.PutVoid());
  if (FAILED(hr)) return hr;
  hr = graphBuilder_->QueryInterface(IID_IVideoWindow, videoWindow_.PutVoid());
  if (FAILED(hr)) return hr;
  hr = graphBuilder_->QueryInterface(IID_IMediaEventEx, mediaEvents_.PutVoid());
  if (FAILED(hr)) return hr;

  mediaEvents_->SetNotifyWindow(videoArea_, kGraphNotifyMessage, 0);

  hr = PublishGraph(graphBuilder_.Get(), &rotRegistration_);
  if (FAILED(hr)) {
    ShowGraphMessage("Failed to register filter graph with ROT!  hr=0x%x", hr);
    rotRegistration_ = 0;
    return hr;
  }
  return hr;
}

HRESULT MediaGraph::PublishGraph(IUnknown* graph, DWORD* registration) {
  if (!graph || !registration) return E_POINTER;
  ComPtr<IRunningObjectTable> table;
  if (FAILED(services_.GetRunningObjectTable(table.Put())) || !table) return E_FAIL;

  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(graph)),
                static_cast<unsigned>(::getpid()));
  ComPtr<IMoniker> moniker;
  HRESULT hr = services_.CreateItemMoniker(u"!", Utf8ToUtf16(name).c_str(), moniker.Put());
  if (FAILED(hr)) return hr;

  return table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker.Get(), registration);
}

HRESULT MediaGraph::PrepareGraph() {
  // The last file's picture must not stay when the next has no video; a
  // video branch shows itself again once it is attached.
  if (videoArea_) videoArea_->ShowVideo(false);
  if (!graphReady_) {
    HRESULT hr = ObtainGraphInterfaces();
    if (FAILED(hr)) {
      ShowGraphMessage("Failed to get video interfaces!  hr=0x%x", hr);
      return hr;
    }
    hr = captureBuilder_->SetFiltergraph(graphBuilder_.Get());
    if (FAILED(hr)) {
      ShowGraphMessage("Failed to set capture filter graph!  hr=0x%x", hr);
      return hr;
    }
    mediaSeeking_.Reset();
    graphBuilder_->QueryInterface(IID_IMediaSeeking, mediaSeeking_.PutVoid());
    graphReady_ = true;
  } else {
    EmptyGraph();
  }

  // A fresh decoder every time: telemetry and history start empty with
  // every file and every capture.
  HRESULT hr = CreateDecoder();
  if (FAILED(hr)) ShowGraphMessage("Couldn't find the Quorvex filter!  hr=0x%x", hr);
  if (decoderFilter_ && decoderSetup_) decoderSetup_(decoderFilter_.Get());

  // Adding nothing is what a null filter would give, without asking the
  // graph to take one.
  hr = decoderFilter_ ? graphBuilder_->AddFilter(decoderFilter_.Get(), kDecoderName) : E_POINTER;
  if (FAILED(hr)) {
    ShowGraphMessage("Failed to add the telemetry decoder to the filter graph  hr=0x%x", hr);
  }
  return hr;
}

HRESULT MediaGraph::CreateDecoder() {
  decoderFilter_.Reset();
  return services_.CreateObject(CLSID_Quorvex, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                decoderFilter_.PutVoid());
}

HRESULT MediaGraph::EmptyGraph() {
  if (!graphBuilder_) return E_POINTER;
  ComPtr<IEnumFilters> filters;
  HRESULT hr = graphBuilder_->EnumFilters(filters.Put());
  if (FAILED(hr)) return hr;
  if (!filters) return E_POINTER;

  if (mediaControl_) mediaControl_->Stop();

  // Removing a filter invalidates the walk, so every pass starts over from
  // the first filter left.
  filters->Reset();
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.Put(), nullptr) == S_OK && filter) {
    // A filter the graph will not let go would come back on every pass.
    if (FAILED(graphBuilder_->RemoveFilter(filter.Get()))) break;
    filter.Reset();
    filters->Reset();
  }
  return S_OK;
}

HRESULT MediaGraph::PlayStoredFile() {
  const HRESULT prepared = PrepareGraph();
  // Without a graph there is nothing to render or run; the reason has
  // already been shown.
  if (!graphReady_) return FAILED(prepared) ? prepared : E_UNEXPECTED;

  // Seeking back or playing again must not feed the decoder a stretch of
  // the flight twice.
  ComPtr<IQuorvexStream> stream;
  if (decoderFilter_ &&
      SUCCEEDED(decoderFilter_->QueryInterface(IID_IQuorvexStream, stream.PutVoid())) && stream) {
    stream->SetRecordingTimeline(1);
  }

  if (const std::u16string note = PrepareNmeaOutput(decoderFilter_.Get(), filePath_); !note.empty())
    messages_.ShowMessage(videoArea_, note, kCaption, MessageIcon::kError);

  HRESULT hr = graphBuilder_->RenderFile(filePath_.c_str(), nullptr);
  if (FAILED(hr)) {
    // The code alone does not say which recording would not open.
    char text[64];
    std::snprintf(text, sizeof text, "Failed to render file! hr=0x%x", static_cast<unsigned>(hr));
    messages_.ShowMessage(videoArea_, Utf8ToUtf16(text) + u"\n" + filePath_, kCaption,
                          MessageIcon::kError);
  }

  SpliceDecoder();

  hr = AttachVideoWindow();
  if (FAILED(hr) && hr != E_NOINTERFACE) {
    ShowGraphMessage("Couldn't initialize video window!  hr=0x%x", hr);
    return hr;
  }

  mediaControl_->Stop();
  hr = mediaControl_->Run();
  if (FAILED(hr)) {
    ShowGraphMessage("Couldn't run the graph!  hr=0x%x", hr);
    return hr;
  }
  return S_OK;
}

HRESULT MediaGraph::SpliceDecoder() {
  if (!graphBuilder_) return E_POINTER;
  ComPtr<IEnumFilters> filters;
  HRESULT hr = graphBuilder_->EnumFilters(filters.Put());
  if (FAILED(hr)) return hr;
  if (!filters) return E_POINTER;
  // With no decoder there is nothing to put in front of a renderer, and
  // cutting the renderer's input would only silence the sound.
  if (!decoderFilter_) return E_FAIL;

  bool found = false;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.Put(), nullptr) == S_OK && filter) {
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) {
      messages_.ShowMessage(nullptr, u"Could not get the filter info", u"Error",
                            MessageIcon::kError);
      continue;
    }
    if (info.pGraph) info.pGraph->Release();
    if (IsAudioRendererName(info.achName) &&
        SUCCEEDED(SpliceAtRenderer(filter.Get(), kRendererPinId, decoderFilter_.Get()))) {
      found = true;
    }
  }
  return found ? S_OK : E_FAIL;
}

HRESULT MediaGraph::SpliceAtRenderer(IBaseFilter* renderer, const OLECHAR* pinId,
                                     IBaseFilter* decoder) {
  try {
    if (!renderer || !decoder || !graphBuilder_) return E_POINTER;
    const bool asf = IsAsfPath(filePath_);

    ComPtr<IPin> rendererIn;
    HRESULT hr = renderer->FindPin(pinId, rendererIn.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IPin> upstreamOut;
    hr = rendererIn->ConnectedTo(upstreamOut.Put());
    if (FAILED(hr)) return hr;

    hr = graphBuilder_->Disconnect(upstreamOut.Get());
    if (FAILED(hr)) return hr;
    hr = graphBuilder_->Disconnect(rendererIn.Get());
    if (FAILED(hr)) return hr;

    ComPtr<IPin> decoderIn;
    hr = FindPinByDirection(decoder, PINDIR_INPUT, decoderIn.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IPin> decoderOut;
    hr = FindPinByDirection(decoder, PINDIR_OUTPUT, decoderOut.Put());
    if (FAILED(hr)) return hr;

    if (asf) {
      hr = graphBuilder_->Connect(upstreamOut.Get(), decoderIn.Get());
      if (FAILED(hr)) return hr;
    }
    // Otherwise rendering already fed the decoder, which was in the graph
    // first: the pin cut from the renderer was the decoder's own output.
    return graphBuilder_->Connect(decoderOut.Get(), rendererIn.Get());
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT MediaGraph::FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!filter) return E_POINTER;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Put())) || !pins) return E_FAIL;
  ComPtr<IPin> candidate;
  while (pins->Next(1, candidate.Put(), nullptr) == S_OK && candidate) {
    PIN_DIRECTION found;
    if (SUCCEEDED(candidate->QueryDirection(&found)) && found == direction) {
      *pin = candidate.Detach();
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT MediaGraph::AttachVideoWindow() {
  if (!videoWindow_) return E_POINTER;
  HRESULT hr = videoWindow_->put_Owner(videoArea_);
  if (FAILED(hr)) return hr;
  hr = videoWindow_->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
  if (FAILED(hr)) return hr;
  const ClientRect area = videoArea_ ? videoArea_->GetClientRect() : ClientRect{};
  videoWindow_->SetWindowPosition(0, 0, area.right, area.bottom);
  return videoWindow_->put_Visible(OATRUE);
}

HRESULT MediaGraph::OpenFirstAudioInput(IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;

  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = services_.CreateObject(CLSID_SystemDeviceEnum, CLSCTX_INPROC, IID_ICreateDevEnum,
                                      devices.PutVoid());
  if (FAILED(hr)) {
    ShowGraphMessage("Couldn't create system enumerator!  hr=0x%x", hr);
    return hr;
  }
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0);
  if (FAILED(hr)) {
    ShowGraphMessage("Audio Capture: Couldn't create class enumerator!  hr=0x%x", hr);
    return hr;
  }
  // No enumerator at all: the machine has no audio input the viewer may
  // take, and the pilot has a cable to plug in.
  if (!monikers) {
    ShowGraphMessage(kNoInputMessage);
    return E_FAIL;
  }

  ComPtr<IMoniker> device;
  if (monikers->Next(1, device.Put(), nullptr) != S_OK || !device) {
    ShowGraphMessage(kNoInputMessage);
    return E_FAIL;
  }
  ComPtr<IBaseFilter> bound;
  hr = device->BindToObject(nullptr, nullptr, IID_IBaseFilter, bound.PutVoid());
  if (FAILED(hr)) {
    ShowGraphMessage("Audio Capture: Couldn't bind moniker to filter object!  hr=0x%x", hr);
    return hr;
  }
  if (!bound) return E_FAIL;
  *filter = bound.Detach();
  return S_OK;
}

HRESULT MediaGraph::StartLiveCapture() {
  const HRESULT prepared = PrepareGraph();
  if (!graphReady_) return FAILED(prepared) ? prepared : E_UNEXPECTED;
  if (const std::u16string note = PrepareNmeaOutput(decoderFilter_.Get(), {}); !note.empty())
    messages_.ShowMessage(videoArea_, note, kCaption, MessageIcon::kError);

  if (audioCapture_) {
    graphBuilder_->RemoveFilter(audioCapture_.Get());
    audioCapture_.Reset();
  }
  HRESULT hr = OpenFirstAudioInput(audioCapture_.Put());
  if (FAILED(hr)) return hr;

  hr = graphBuilder_->AddFilter(audioCapture_.Get(), kCaptureName);
  if (FAILED(hr)) {
    ShowGraphMessage(
        "Couldn't add the audio capture filter to the graph!  hr=0x%x\r\n\r\n"
        "If you have a working audio capture device, please make sure\r\n"
        "that it is connected and is not being used by another application.\r\n\r\n"
        "The sample will now close.",
        hr);
    audioCapture_.Reset();
    return hr;
  }

  if (audioRenderer_) {
    graphBuilder_->RemoveFilter(audioRenderer_.Get());
    audioRenderer_.Reset();
  }
  hr = services_.CreateObject(CLSID_DSoundRender, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              audioRenderer_.PutVoid());
  if (FAILED(hr)) ShowGraphMessage("Couldn't find the Default Direct Sound Device  hr=0x%x", hr);
  if (audioRenderer_) {
    hr = graphBuilder_->AddFilter(audioRenderer_.Get(), kDirectSoundName);
    if (FAILED(hr)) {
      ShowGraphMessage("Failed to add the Default Direct Sound Device to the filter graph  hr=0x%x",
                       hr);
    }
  }

  // A missing pin or a refused connection is not reported: the capture
  // simply does not start.
  ComPtr<IPin> captureOut, rendererIn, decoderIn, decoderOut;
  hr = FindPinByDirection(audioCapture_.Get(), PINDIR_OUTPUT, captureOut.Put());
  if (FAILED(hr)) return hr;
  hr = FindPinByDirection(audioRenderer_.Get(), PINDIR_INPUT, rendererIn.Put());
  if (FAILED(hr)) return hr;
  hr = FindPinByDirection(decoderFilter_.Get(), PINDIR_INPUT, decoderIn.Put());
  if (FAILED(hr)) return hr;
  hr = FindPinByDirection(decoderFilter_.Get(), PINDIR_OUTPUT, decoderOut.Put());
  if (FAILED(hr)) return hr;

  // Nothing is put between the device and the decoder: the device must
  // deliver what the decoder takes.
  hr = graphBuilder_->ConnectDirect(captureOut.Get(), decoderIn.Get(), nullptr);
  if (FAILED(hr)) return hr;
  hr = graphBuilder_->ConnectDirect(decoderOut.Get(), rendererIn.Get(), nullptr);
  if (FAILED(hr)) return hr;

  mediaControl_->Stop();
  hr = mediaControl_->Run();
  if (FAILED(hr)) ShowGraphMessage("Audio: Couldn't run the graph!  hr=0x%x", hr);
  return hr;
}

void MediaGraph::ShowGraphMessage(const char* format, HRESULT value) {
  // Longer texts are cut, never overrun.
  char text[1024];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
  messages_.ShowMessage(videoArea_, Utf8ToUtf16(text), kCaption, MessageIcon::kError);
}
