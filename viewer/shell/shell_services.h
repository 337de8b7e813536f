#pragma once

#include <string_view>

#include "platform/com/moniker.h"
#include "platform/com/running_object_table.h"
#include "platform/gst/graph_interfaces.h"

// What the media graph needs from the window system and the platform,
// behind interfaces, so that the graph logic runs without either: the Qt
// viewer supplies the windows, tests supply stand-ins and failure
// injection.

struct ClientRect {
  long right = 0;
  long bottom = 0;
};

// The main dialog's video area: it shows the video, receives the graph's
// event notifications and owns the graph's message boxes.
class IVideoArea : public IVideoSurface, public INotifyTarget {
 public:
  virtual ClientRect GetClientRect() const = 0;

 protected:
  ~IVideoArea() = default;
};

enum class MessageIcon { kError };

// Modal message boxes: ShowMessage returns once the box is dismissed. A
// null owner gives a box of its own, not tied to any window.
class IMessageService {
 public:
  virtual void ShowMessage(const IVideoArea* owner, std::u16string_view text,
                           std::u16string_view caption, MessageIcon icon) = 0;

 protected:
  ~IMessageService() = default;
};

// Object creation by class identifier and the running-object table.
class IGraphServices {
 public:
  // The slot is null after a failure.
  virtual HRESULT CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) = 0;
  virtual HRESULT GetRunningObjectTable(IRunningObjectTable** table) = 0;
  virtual HRESULT CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item,
                                    IMoniker** moniker) = 0;

 protected:
  ~IGraphServices() = default;
};

// The platform's own graph objects and the registered components; lives
// as long as the process.
IGraphServices& PlatformGraphServices();
