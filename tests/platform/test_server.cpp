// A minimal in-process server for the object-creation tests: one class,
// counted instances, the four entry points.

#include <atomic>
#include <new>

#include "platform/com/class_factory.h"
#include "platform/com/component_registry.h"
#include "platform/com/heap_object.h"
#include "platform/com/static_class_factory.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr CLSID kClass{0x5EC0F1E5, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

class Widget : public IUnknown {
 public:
  Widget() { ++g_objects; }

 protected:
  ~Widget() { --g_objects; }
};

HRESULT CreateWidget(REFIID iid, void** out) {
  auto* w = new (std::nothrow) CHeapObject<Widget, Offered<IUnknown, IID_IUnknown>>;
  if (!w) return E_OUTOFMEMORY;
  const HRESULT hr = w->QueryInterface(iid, out);
  w->Release();
  return hr;
}

CStaticClassFactory g_factory(CreateWidget, g_locks);

}  // namespace

EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != kClass) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

EXPORT HRESULT DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

EXPORT int TestServerObjects() { return g_objects; }
