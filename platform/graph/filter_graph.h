#pragma once

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/running_object_table.h"
#include "platform/com/single_interface_object.h"
#include "platform/com/weak_reference.h"
#include "platform/gst/graph_interfaces.h"
#include "platform/gst/gst_ptr.h"

class VideoOutput;

// The filter graph on a GstPipeline: each filter is a top-level element of
// the pipeline, each connection a pad link. Streams found while rendering a
// file are wired on GStreamer's streaming threads, so the filter list has
// its own lock, never held across a state change (a state change waits for
// those threads).
class CFilterGraph final : public IGraphBuilder,
                           public IMediaControl,
                           public IMediaEventEx,
                           public IMediaSeeking,
                           public IVideoWindow,
                           public IRunningObjectNotify,
                           public IWeakReferenceSource {
 public:
  static HRESULT Create(REFIID iid, void** object);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IFilterGraph, IGraphBuilder
  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, const OLECHAR* name) override;
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override;
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** filters) override;
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* output, IPin* input,
                                          const CMediaType* mediaType) override;
  HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override;
  HRESULT STDMETHODCALLTYPE Connect(IPin* output, IPin* input) override;
  HRESULT STDMETHODCALLTYPE RenderFile(const OLECHAR* file, const OLECHAR* playList) override;

  // IMediaControl
  HRESULT STDMETHODCALLTYPE Run() override;
  HRESULT STDMETHODCALLTYPE Stop() override;

  // IMediaEvent, IMediaEventEx
  HRESULT STDMETHODCALLTYPE GetEvent(long* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                                     long timeoutMs) override;
  HRESULT STDMETHODCALLTYPE FreeEventParams(long eventCode, LONG_PTR param1,
                                            LONG_PTR param2) override;
  HRESULT STDMETHODCALLTYPE SetNotifyWindow(INotifyTarget* target, long message,
                                            LONG_PTR instance) override;

  // IMediaSeeking
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) override;

  // IVideoWindow
  HRESULT STDMETHODCALLTYPE put_Owner(IVideoSurface* owner) override;
  HRESULT STDMETHODCALLTYPE put_WindowStyle(long style) override;
  HRESULT STDMETHODCALLTYPE SetWindowPosition(long left, long top, long width,
                                              long height) override;
  HRESULT STDMETHODCALLTYPE put_Visible(long visible) override;

  // IRunningObjectNotify: while published, the pipeline is kept as a
  // Graphviz file named after the entry in the user's private folder.
  void STDMETHODCALLTYPE OnRegistered(DWORD cookie, const OLECHAR* displayName) override;
  void STDMETHODCALLTYPE OnRevoked(DWORD cookie) override;

  // IWeakReferenceSource: how the filters in the graph find it again.
  HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference** weak) override;

 private:
  class CWeakGraph final : public CSingleInterfaceObject<IWeakReference, IID_IWeakReference> {
   public:
    explicit CWeakGraph(CFilterGraph* graph);
    HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, void** object) override;
    // From the graph's destructor: nothing resolves to it any more.
    void Forget();

   private:
    std::mutex lock_;
    CFilterGraph* graph_;
  };
  struct Entry {
    ComPtr<IBaseFilter> filter;
    ComPtr<IUnknown> identity;
    GstObjectPtr<GstElement> element;
    std::shared_ptr<VideoOutput> video;
    gulong padAddedHandler = 0;
    unsigned renderPass = 0;  // the RenderFile call that made it; 0 for AddFilter
  };
  struct Event {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
  };
  enum class Kind { kAudio, kVideo, kOther };
  struct SourceContext;

  CFilterGraph();
  ~CFilterGraph();

  // A reference, unless the last one is already gone.
  bool AddRefUnlessGone();

  static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
  static void OnPadAdded(GstElement* element, GstPad* pad, gpointer context);

  // Streams of a file: offered to the filters in the graph (unless
  // `direct`), else to a new renderer.
  bool RenderPad(GstPad* pad, bool direct, std::vector<GstElement*>& visited, unsigned pass);
  bool RenderIntoFilter(GstPad* pad, Kind kind, GstElement* filter,
                        std::vector<GstElement*>& visited, unsigned pass);
  // Links `output` to `input` with converters for `kind` between them
  // unless the input's element converts by itself.
  HRESULT LinkConverting(GstPad* output, GstPad* input, unsigned pass);
  void RemoveRenderPass(unsigned pass);

  // Enters an element the graph made; returns its unique name's result.
  HRESULT AddOwnElement(GstElement* element, const char16_t* name, unsigned pass,
                        std::shared_ptr<VideoOutput> video = nullptr, GstElement** added = nullptr);
  HRESULT AddEntry(Entry entry, const OLECHAR* name);
  void DropEntry(Entry& entry);
  // The pads of two pins of this graph; an error when either is not one.
  HRESULT PadsOf(IPin* output, IPin* input, GstObjectPtr<GstPad>& out, GstObjectPtr<GstPad>& in);
  bool InThisGraph(GstPad* pad);
  std::shared_ptr<VideoOutput> FirstVideoOutput();
  void QueueEvent(long code, LONG_PTR param1, LONG_PTR param2);
  void SyncWithPipeline(GstElement* element);
  void RefreshPublishedGraph();

  std::atomic<ULONG> refs_{1};
  GstElement* const pipeline_;
  const ComPtr<CWeakGraph> weak_;

  std::recursive_mutex filtersLock_;
  std::vector<Entry> entries_;
  unsigned lastRenderPass_ = 0;

  std::atomic<bool> running_{false};
  std::mutex renderLock_;
  bool rendering_ = false;
  HRESULT renderError_ = S_OK;

  std::mutex eventLock_;
  std::condition_variable eventArrived_;
  std::deque<Event> events_;
  INotifyTarget* notifyTarget_ = nullptr;
  long notifyMessage_ = 0;
  LONG_PTR notifyInstance_ = 0;

  std::mutex publishLock_;
  std::map<DWORD, std::filesystem::path> publishedFiles_;
};
