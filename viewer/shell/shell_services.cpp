#include "viewer/shell/shell_services.h"

#include "platform/com/co_create.h"
#include "platform/graph/graph_objects.h"

namespace {

bool IsPlatformClass(REFCLSID clsid) {
  return clsid == CLSID_FilterGraph || clsid == CLSID_CaptureGraphBuilder2 ||
         clsid == CLSID_SystemDeviceEnum || clsid == CLSID_DSoundRender;
}

class PlatformServices final : public IGraphServices {
 public:
  HRESULT CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) override {
    if (IsPlatformClass(clsid)) return CreateGraphObject(clsid, iid, object);
    return CoCreateInstance(clsid, nullptr, context, iid, object);
  }
  HRESULT GetRunningObjectTable(IRunningObjectTable** table) override {
    return ::GetRunningObjectTable(0, table);
  }
  HRESULT CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item,
                            IMoniker** moniker) override {
    return ::CreateItemMoniker(delimiter, item, moniker);
  }
};

}  // namespace

IGraphServices& PlatformGraphServices() {
  static PlatformServices services;
  return services;
}
