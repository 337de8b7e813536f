#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

// The per-user component registry: which library serves a class, which class
// a ProgID names, and the media filters with their pins. One human-readable
// file, "${XDG_CONFIG_HOME:-$HOME/.config}/Aviquent/components.ini" (the
// environment variable VISTARO_COMPONENT_REGISTRY names another file).
// Updates take a lock and replace the file in one step, so registrations
// running at the same time never corrupt it.

struct InprocServerEntry {
  CLSID clsid;
  std::string description;
  std::filesystem::path library;  // absolute
  std::string threadingModel = "Both";
};

struct FilterPinEntry {
  std::string name;
  bool rendered = false;
  bool output = false;
  bool zero = false;  // may be absent
  bool many = false;  // may have several instances
  CLSID connectsToFilter = GUID_NULL;
  std::string connectsToPin;
  std::vector<std::pair<GUID, GUID>> mediaTypes;  // major type, subtype
};

struct FilterEntry {
  CLSID clsid;
  std::string friendlyName;
  std::uint32_t merit = 0;
  std::vector<FilterPinEntry> pins;
};

namespace com_registry {

std::filesystem::path RegistryFile();

// The registry is refused when it is not a regular file or is larger than
// 1 MiB: nothing is found in it and nothing is written to it. Empty when it
// can be read (or does not exist yet); else the file and the reason, for a
// program to tell its user.
std::string ReadProblem();
// The same, and also empty only when an update could be written.
std::string WriteProblem();

// S_OK, or E_FAIL when the file cannot be read or written (the registry is
// then left as it was; WriteProblem says why).
HRESULT RegisterServer(const InprocServerEntry& entry);
HRESULT UnregisterServer(const CLSID& clsid);
HRESULT RegisterProgId(std::string_view progId, const CLSID& clsid);
HRESULT UnregisterProgId(std::string_view progId);
HRESULT RegisterFilter(const FilterEntry& entry);
HRESULT UnregisterFilter(const CLSID& clsid);

std::optional<InprocServerEntry> FindServer(const CLSID& clsid);
std::optional<CLSID> FindProgId(std::string_view progId);
std::optional<FilterEntry> FindFilter(const CLSID& clsid);

}  // namespace com_registry
