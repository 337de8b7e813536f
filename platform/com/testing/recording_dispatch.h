#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/utf.h"

namespace com::testing {

// What a group of automation objects was asked, in order.
struct AutomationLog {
  struct Lookup {
    std::string object;
    std::vector<std::string> names;
    IID iid;
    LCID locale;
  };
  struct Invocation {
    std::string object;
    std::string member;
    WORD flags;
    IID iid;
    LCID locale;
    // As the server received them: positional arguments last to first.
    std::vector<ComVariant> arguments;
    std::vector<DISPID> namedArguments;
    bool wantsResult;
  };
  std::vector<Lookup> lookups;
  std::vector<Invocation> invocations;
};

// An automation object that knows any member name, answers each call from
// a script and records everything in a log it may share with others. Lives
// on the stack of a test: references are counted but never free it.
class RecordingDispatch final : public IDispatch {
 public:
  RecordingDispatch(std::string label, AutomationLog& log) : label_(std::move(label)), log_(log) {}

  // The next calls of `member` end with these codes in turn, the last one
  // repeating; S_OK when nothing is scripted.
  void Answer(const std::string& member, std::vector<HRESULT> codes) {
    answers_[member].assign(codes.begin(), codes.end());
  }
  // A successful call of `member` gives `value`.
  void Returns(const std::string& member, const ComVariant& value) {
    objects_.erase(member);
    values_[member] = value;
  }
  // ... or the object, without the script holding a reference to it.
  void ReturnsObject(const std::string& member, IDispatch* object) {
    values_.erase(member);
    objects_[member] = object;
  }
  // The name lookup of `member` fails with `code`.
  void FailLookup(const std::string& member, HRESULT code) { lookupFailures_[member] = code; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    AutomationLog::Lookup lookup{label_, {}, iid, locale};
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
      const std::string name = Utf16ToUtf8(std::u16string_view(names[i]));
      lookup.names.push_back(name);
      if (const auto failure = lookupFailures_.find(name); failure != lookupFailures_.end()) {
        ids[i] = DISPID_UNKNOWN;
        result = failure->second;
        continue;
      }
      const auto [it, added] = ids_.try_emplace(name, static_cast<DISPID>(ids_.size() + 1));
      ids[i] = it->second;
    }
    log_.lookups.push_back(std::move(lookup));
    return result;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    std::string name = "?";
    for (const auto& [known, id] : ids_)
      if (id == member) name = known;
    AutomationLog::Invocation call{label_, name, flags, iid, locale, {}, {}, result != nullptr};
    for (UINT i = 0; i < params->cArgs; ++i) {
      ComVariant copy;
      VariantCopy(copy.Put(), &params->rgvarg[i]);
      call.arguments.push_back(std::move(copy));
    }
    for (UINT i = 0; i < params->cNamedArgs; ++i)
      call.namedArguments.push_back(params->rgdispidNamedArgs[i]);
    log_.invocations.push_back(std::move(call));

    HRESULT code = S_OK;
    if (auto answer = answers_.find(name); answer != answers_.end() && !answer->second.empty()) {
      code = answer->second.front();
      if (answer->second.size() > 1) answer->second.pop_front();
    }
    if (FAILED(code) || result == nullptr) return code;
    if (const auto object = objects_.find(name); object != objects_.end()) {
      const ComVariant value(object->second);
      VariantCopy(result, &value.Get());
    } else if (const auto value = values_.find(name); value != values_.end()) {
      VariantCopy(result, &value->second.Get());
    }
    return code;
  }

  std::atomic<ULONG> refs{0};

 private:
  const std::string label_;
  AutomationLog& log_;
  std::map<std::string, DISPID> ids_;
  std::map<std::string, std::deque<HRESULT>> answers_;
  std::map<std::string, ComVariant> values_;
  std::map<std::string, IDispatch*> objects_;
  std::map<std::string, HRESULT> lookupFailures_;
};

}  // namespace com::testing
