#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/running_object_table.h"
#include "platform/gst/graph_interfaces.h"

// Failure injection around the real graph objects, for tests of the code
// that drives them. Every call goes to the real object unless the script
// says that this call fails; the script also records each call.
//
// Operations are named "Interface::Method" ("IGraphBuilder::RenderFile",
// "IBaseFilter::QueryFilterInfo", "IMoniker::BindToObject", ...), object
// creation "Create(FilterGraph)", "Create(CaptureGraphBuilder2)",
// "Create(SystemDeviceEnum)", "Create(DSoundRender)" or "Create({GUID})",
// interface queries on the graph "QueryInterface(IMediaControl)" and the
// like, and the table's "GetRunningObjectTable" and "CreateItemMoniker".
//
// A scripted failure code is returned with every out-parameter empty. A
// scripted success code (S_FALSE) is returned the same way, without the
// real call: a class enumerator with no devices, an enumerator at its end.
class FailureScript {
 public:
  // After `after` calls that go through, the next `times` calls (-1: all
  // of them) give `result`.
  void Fail(const std::string& operation, HRESULT result, int after = 0, int times = -1);
  // Forgets the rule for `operation`.
  void Pass(const std::string& operation);

  // What the fake asks before each call: the scripted result, if any.
  bool Scripted(const std::string& operation, const std::string& detail, HRESULT* result);

  // Every call in order, as "operation" or "operation(detail)", where the
  // detail is a filter name, a file or a pin identifier.
  std::vector<std::string> Calls() const;
  // Calls of `operation` since the script was made or last cleared.
  int CountOf(const std::string& operation) const;
  // Forgets the calls and their counts; the rules keep counting from the
  // first call, so a rule's `after` is not reset.
  void ClearCalls();

 private:
  struct Rule {
    HRESULT result;
    int after;
    int times;
  };
  mutable std::mutex lock_;
  std::map<std::string, Rule> rules_;
  // Every call ever, for the rules.
  std::map<std::string, int> seen_;
  // Calls since the last ClearCalls, for CountOf.
  std::map<std::string, int> counted_;
  std::vector<std::string> calls_;
};

// The platform operations the graph's user starts from, with the script
// in front of them.
class FakeGraphPlatform {
 public:
  explicit FakeGraphPlatform(std::shared_ptr<FailureScript> script);

  // The platform classes of CreateGraphObject, and any other class through
  // CoCreateInstance (in-process server), each wrapped.
  HRESULT CreateObject(REFCLSID clsid, REFIID iid, void** object);
  HRESULT GetRunningObjectTable(IRunningObjectTable** table);
  HRESULT CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item, IMoniker** moniker);

  FailureScript& Script() { return *script_; }

 private:
  std::shared_ptr<FailureScript> script_;
};

// The real object behind a wrapper (with a reference), or `object` itself
// with a reference when it is not one.
ComPtr<IUnknown> UnwrapFake(IUnknown* object);
