#include "platform/com/co_create.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/com/component_registry.h"
#include "platform/com/utf.h"

namespace {

std::string& LastLoadError() {
  thread_local std::string text;
  return text;
}

struct LoadedServer {
  void* handle = nullptr;
  DllGetClassObjectFn getClassObject = nullptr;
  DllCanUnloadNowFn canUnloadNow = nullptr;
};

// Server libraries stay loaded until CoFreeUnusedLibraries finds them idle,
// and each is loaded once per process: a second copy from another path
// would register its types twice.
class ServerTable {
 public:
  static ServerTable& Instance() {
    static ServerTable table;
    return table;
  }

  HRESULT GetClassObject(const std::string& path, DllGetClassObjectFn& fn) {
    std::lock_guard guard(lock_);
    auto it = servers_.find(path);
    if (it == servers_.end()) {
      void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const char* why = ::dlerror();
        LastLoadError() = why ? why : path + ": cannot be loaded";
        return E_FAIL;
      }
      LoadedServer s{handle,
                     reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject")),
                     reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"))};
      if (!s.getClassObject) {
        LastLoadError() = path + ": has no entry point DllGetClassObject";
        ::dlclose(handle);
        return E_FAIL;
      }
      it = servers_.emplace(path, s).first;
    }
    fn = it->second.getClassObject;
    return S_OK;
  }

  void FreeUnused() {
    std::lock_guard guard(lock_);
    for (auto it = servers_.begin(); it != servers_.end();) {
      const LoadedServer& s = it->second;
      if (s.canUnloadNow && s.canUnloadNow() == S_OK) {
        ::dlclose(s.handle);
        it = servers_.erase(it);
      } else {
        ++it;
      }
    }
  }

 private:
  std::mutex lock_;
  std::map<std::string, LoadedServer> servers_;
};

}  // namespace

std::string CoLastLoadError() { return LastLoadError(); }

HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }
void CoUninitialize() {}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  const auto entry = com_registry::FindServer(clsid);
  if (!entry) return REGDB_E_CLASSNOTREG;
  DllGetClassObjectFn getClassObject = nullptr;
  if (const HRESULT hr =
          ServerTable::Instance().GetClassObject(entry->library.string(), getClassObject);
      FAILED(hr))
    return hr;
  return getClassObject(clsid, riid, object);
}

namespace {

HRESULT CreateWith(IClassFactory* factory, IUnknown* outer, REFIID riid, void** object) {
  const HRESULT hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

}  // namespace

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  const HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  return CreateWith(factory, outer, riid, object);
}

HRESULT CoCreateInstanceFromLibrary(const std::string& library, REFCLSID clsid, IUnknown* outer,
                                    REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  DllGetClassObjectFn getClassObject = nullptr;
  if (const HRESULT hr = ServerTable::Instance().GetClassObject(library, getClassObject);
      FAILED(hr))
    return hr;
  IClassFactory* factory = nullptr;
  const HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  return CreateWith(factory, outer, riid, object);
}

HRESULT CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  std::u16string_view id(progId);
  const auto found = com_registry::FindProgId(Utf16ToUtf8(id));
  if (!found) return CO_E_CLASSSTRING;
  *clsid = *found;
  return S_OK;
}

void CoFreeUnusedLibraries() { ServerTable::Instance().FreeUnused(); }
