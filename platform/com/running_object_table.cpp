#include "platform/com/running_object_table.h"

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "platform/com/com_ptr.h"
#include "platform/com/single_interface_object.h"

namespace {

std::u16string DisplayNameOf(IMoniker* moniker) {
  ComBstr name;
  if (!moniker || FAILED(moniker->GetDisplayName(nullptr, nullptr, name.Put())) || !name) {
    return {};
  }
  return std::u16string(name.View());
}

class RunningObjectTable final : public IRunningObjectTable {
 public:
  static RunningObjectTable& Instance() {
    static RunningObjectTable table;
    return table;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IRunningObjectTable) {
      *object = static_cast<IRunningObjectTable*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The table lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE Register(DWORD flags, IUnknown* object, IMoniker* name,
                                     DWORD* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!object || !name) return E_INVALIDARG;
    if (flags & ~(ROTFLAGS_REGISTRATIONKEEPSALIVE | ROTFLAGS_ALLOWANYCLIENT)) return E_INVALIDARG;
    std::u16string displayName = DisplayNameOf(name);
    if (displayName.empty()) return E_INVALIDARG;

    bool duplicate = false;
    DWORD issued = 0;
    {
      std::lock_guard guard(lock_);
      for (const auto& [_, entry] : entries_) duplicate |= entry.name == displayName;
      do issued = ++lastCookie_;
      while (issued == 0 || entries_.contains(issued));
      // Without keep-alive the registration would not hold the object, and a
      // released object would dangle here: every entry holds a reference.
      entries_.emplace(issued, Entry{ComPtr<IUnknown>(object), displayName});
    }
    ComPtr<IRunningObjectNotify> notify;
    if (SUCCEEDED(object->QueryInterface(IID_IRunningObjectNotify, notify.PutVoid()))) {
      notify->OnRegistered(issued, displayName.c_str());
    }
    *cookie = issued;
    return duplicate ? MK_S_MONIKERALREADYREGISTERED : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Revoke(DWORD cookie) override {
    ComPtr<IUnknown> object;
    {
      std::lock_guard guard(lock_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      object = std::move(it->second.object);
      entries_.erase(it);
    }
    ComPtr<IRunningObjectNotify> notify;
    if (SUCCEEDED(object->QueryInterface(IID_IRunningObjectNotify, notify.PutVoid()))) {
      notify->OnRevoked(cookie);
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE IsRunning(IMoniker* name) override {
    ComPtr<IUnknown> found;
    return Find(name, found) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetObject(IMoniker* name, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<IUnknown> found;
    if (!Find(name, found)) return MK_E_UNAVAILABLE;
    *object = found.Detach();
    return S_OK;
  }

 private:
  struct Entry {
    ComPtr<IUnknown> object;
    std::u16string name;
  };

  RunningObjectTable() = default;
  ~RunningObjectTable() = default;

  bool Find(IMoniker* name, ComPtr<IUnknown>& found) {
    const std::u16string displayName = DisplayNameOf(name);
    std::lock_guard guard(lock_);
    for (const auto& [_, entry] : entries_) {
      if (entry.name == displayName) {
        found = entry.object;
        return true;
      }
    }
    return false;
  }

  std::mutex lock_;
  DWORD lastCookie_ = 0;
  std::map<DWORD, Entry> entries_;
};

class ItemMoniker final : public CSingleInterfaceObject<IMoniker, IID_IMoniker> {
 public:
  static HRESULT Create(std::u16string displayName, IMoniker** moniker) {
    *moniker = new (std::nothrow) ItemMoniker(std::move(displayName));
    return *moniker ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker* left, REFIID iid,
                                         void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (left) return E_INVALIDARG;
    ComPtr<IUnknown> found;
    if (FAILED(RunningObjectTable::Instance().GetObject(this, found.Put()))) return MK_E_NOOBJECT;
    return found->QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, BSTR* name) override {
    if (!name) return E_POINTER;
    *name = SysAllocStringLen(displayName_.data(), static_cast<UINT>(displayName_.size()));
    return *name ? S_OK : E_OUTOFMEMORY;
  }

 private:
  explicit ItemMoniker(std::u16string displayName) : displayName_(std::move(displayName)) {}
  ~ItemMoniker() = default;

  const std::u16string displayName_;
};

}  // namespace

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table) {
  if (!table) return E_POINTER;
  *table = nullptr;
  if (reserved != 0) return E_INVALIDARG;
  *table = &RunningObjectTable::Instance();
  return S_OK;
}

HRESULT CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!item) return E_INVALIDARG;
  std::u16string name = delimiter ? delimiter : u"";
  name += item;
  return ItemMoniker::Create(std::move(name), moniker);
}
