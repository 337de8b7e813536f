#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/moniker.h"
#include "platform/com/unknown.h"
#include "platform/gst/filter_types.h"

// The media-graph interfaces the viewer drives: a graph of filters joined
// pin to pin, its control, events, seeking and video window, and the
// enumeration of capture devices. Identifiers keep their well-known values
// so that code and tools written against them read the same here.

class CMediaType;
struct IBaseFilter;
struct IFilterGraph;
struct IPin;

using LONG_PTR = std::intptr_t;
using REFTIME = double;
using OAFilterState = LONG;

// ---- Identifiers --------------------------------------------------------

inline constexpr CLSID CLSID_FilterGraph{
    0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr CLSID CLSID_CaptureGraphBuilder2{
    0xBF87B6E1, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr CLSID CLSID_SystemDeviceEnum{
    0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr CLSID CLSID_DSoundRender{
    0x79376820, 0x07D0, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};
inline constexpr CLSID CLSID_AudioInputDeviceCategory{
    0x33D9A762, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

inline constexpr IID IID_IPin{
    0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IEnumPins{
    0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IEnumFilters{
    0x56A86893, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IBaseFilter{
    0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IFilterGraph{
    0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IGraphBuilder{
    0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaControl{
    0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IVideoWindow{
    0x56A868B4, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaEvent{
    0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaEventEx{
    0x56A868C0, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaSeeking{
    0x36B73880, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
inline constexpr IID IID_ICaptureGraphBuilder2{
    0x93E5A4E0, 0x2D50, 0x11D2, {0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D}};
inline constexpr IID IID_ICreateDevEnum{
    0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

// ---- Result codes -------------------------------------------------------

inline constexpr HRESULT E_ABORT = MakeHresult(0x80004004u);
inline constexpr HRESULT HRESULT_FILE_NOT_FOUND = MakeHresult(0x80070002u);
inline constexpr HRESULT HRESULT_ACCESS_DENIED = MakeHresult(0x80070005u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHresult(0x80040204u);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHresult(0x80040207u);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHresult(0x80040208u);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeHresult(0x80040216u);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHresult(0x80040217u);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHresult(0x80040218u);
inline constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MakeHresult(0x80040240u);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHresult(0x8004025Fu);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeHresult(0x80040265u);
inline constexpr HRESULT VFW_S_PARTIAL_RENDER = MakeHresult(0x00040242u);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeHresult(0x0004022Du);

// ---- Filters and pins ---------------------------------------------------

struct FILTER_INFO {
  OLECHAR achName[128];  // NUL-terminated, cut to fit
  IFilterGraph* pGraph;  // with a reference for the caller; null outside a graph
};

struct IPin : IUnknown {
  // The pin at the other end, with a reference; VFW_E_NOT_CONNECTED.
  virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) = 0;
  // The pin's identifier, as FindPin takes it; free with SysFreeString.
  virtual HRESULT STDMETHODCALLTYPE QueryId(BSTR* id) = 0;

 protected:
  ~IPin() = default;
};

struct IEnumPins : IUnknown {
  // S_OK when `count` pins were handed out, S_FALSE when fewer were left.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;

 protected:
  ~IEnumPins() = default;
};

struct IBaseFilter : IUnknown {
  // Pins in the filter's own order.
  virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) = 0;
  // VFW_E_NOT_FOUND when the filter has no pin with that identifier.
  virtual HRESULT STDMETHODCALLTYPE FindPin(const OLECHAR* id, IPin** pin) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) = 0;
  // Called by the graph only: the filter joined `graph` under `name`, or
  // left its graph (both null). The filter must not keep a reference to the
  // graph, which holds the filter; a graph that offers
  // IWeakReferenceSource can be found again through its weak reference.
  virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, const OLECHAR* name) = 0;

 protected:
  ~IBaseFilter() = default;
};

struct IEnumFilters : IUnknown {
  // Walks the filters the graph held when the enumerator was made or last
  // reset. S_OK when `count` filters were handed out, else S_FALSE.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;

 protected:
  ~IEnumFilters() = default;
};

// ---- The graph ----------------------------------------------------------

struct IFilterGraph : IUnknown {
  // A name already taken gets a number appended (VFW_S_DUPLICATE_NAME); a
  // null name makes one up.
  virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, const OLECHAR* name) = 0;
  // Disconnects the filter's pins first.
  virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** filters) = 0;
  // Joins an output to an input as they are, with nothing in between;
  // `mediaType` must be null. Fails when their formats cannot meet.
  virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* output, IPin* input,
                                                  const CMediaType* mediaType) = 0;
  // Breaks the pin's connection; S_FALSE when it had none.
  virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) = 0;

 protected:
  ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
  // Joins an output to an input, putting converters between them as needed.
  virtual HRESULT STDMETHODCALLTYPE Connect(IPin* output, IPin* input) = 0;
  // Builds what plays the file and renders each of its streams, offering
  // them to the filters already in the graph first. `playList` must be null.
  virtual HRESULT STDMETHODCALLTYPE RenderFile(const OLECHAR* file, const OLECHAR* playList) = 0;

 protected:
  ~IGraphBuilder() = default;
};

struct ICaptureGraphBuilder2 : IUnknown {
  // E_UNEXPECTED when the builder already has a graph.
  virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) = 0;

 protected:
  ~ICaptureGraphBuilder2() = default;
};

struct IMediaControl : IUnknown {
  // S_FALSE while some filters are still on their way to running.
  virtual HRESULT STDMETHODCALLTYPE Run() = 0;
  // Stops the streams and rewinds to the start; the graph stays built.
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;

 protected:
  ~IMediaControl() = default;
};

// ---- Events -------------------------------------------------------------

inline constexpr long EC_COMPLETE = 0x01;    // param1: S_OK
inline constexpr long EC_ERRORABORT = 0x03;  // param1: the failure code

// Where the graph announces events: the viewer's window, or anything
// standing in for it. PostNotify is called from streaming threads and must
// neither block nor call back into the graph; the receiver then collects
// the events with GetEvent on its own thread.
class INotifyTarget {
 public:
  virtual void PostNotify(long message, LONG_PTR instance) = 0;

 protected:
  ~INotifyTarget() = default;
};

struct IMediaEvent : IUnknown {
  // The oldest pending event; E_ABORT when none comes within `timeoutMs`
  // (0: do not wait).
  virtual HRESULT STDMETHODCALLTYPE GetEvent(long* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                                             long timeoutMs) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeEventParams(long eventCode, LONG_PTR param1,
                                                    LONG_PTR param2) = 0;

 protected:
  ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
  // Every event is announced to `target` as `message` with `instance`; a
  // null target stops the announcements. The target must stay valid until
  // it is replaced or the graph is gone.
  virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(INotifyTarget* target, long message,
                                                    LONG_PTR instance) = 0;

 protected:
  ~IMediaEventEx() = default;
};

// ---- Seeking ------------------------------------------------------------

inline constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
inline constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;

// Times in 100-nanosecond units.
struct IMediaSeeking : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) = 0;
  // Either may be null.
  virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
  // Absolute positioning or none, for each of the two; returns once the
  // graph plays from the new place.
  virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags,
                                                 LONGLONG* stop, DWORD stopFlags) = 0;

 protected:
  ~IMediaSeeking() = default;
};

// ---- Video --------------------------------------------------------------

inline constexpr long WS_CHILD = 0x40000000L;
inline constexpr long WS_CLIPCHILDREN = 0x02000000L;
inline constexpr long OATRUE = -1;
inline constexpr long OAFALSE = 0;

// One decoded picture, 32 bits a pixel in memory order B, G, R, unused;
// valid only during the call that hands it over.
struct VideoFrame {
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next
  const std::uint8_t* pixels = nullptr;
  LONGLONG timestamp = -1;  // stream time; -1 when unknown
};

// Where the video is shown: the viewer's video area, or a test's stand-in.
// PresentFrame comes from a streaming thread; it must neither wait for the
// thread that drives the graph nor call the graph. The others come from
// the thread that drives the graph.
class IVideoSurface {
 public:
  virtual void PresentFrame(const VideoFrame& frame) = 0;
  virtual void PlaceVideo(long left, long top, long width, long height) = 0;
  virtual void ShowVideo(bool visible) = 0;

 protected:
  ~IVideoSurface() = default;
};

// Every method fails with E_NOINTERFACE while the graph has no video renderer.
struct IVideoWindow : IUnknown {
  // Null detaches the surface; frames then go nowhere.
  virtual HRESULT STDMETHODCALLTYPE put_Owner(IVideoSurface* owner) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_WindowStyle(long style) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWindowPosition(long left, long top, long width,
                                                      long height) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Visible(long visible) = 0;

 protected:
  ~IVideoWindow() = default;
};

// ---- Devices ------------------------------------------------------------

struct ICreateDevEnum : IUnknown {
  // S_FALSE with a null enumerator when the category has no device.
  virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category,
                                                          IEnumMoniker** monikers, DWORD flags) = 0;

 protected:
  ~ICreateDevEnum() = default;
};
