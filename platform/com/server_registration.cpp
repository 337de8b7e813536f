#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "platform/com/factory_template.h"
#include "platform/com/library_path.h"

namespace {

// Any object of this library: its address tells dladdr which file we are.
const char libraryMarker = 0;

std::filesystem::path LibraryPath() { return PathOfLibraryHolding(&libraryMarker); }

}  // namespace

HRESULT ServerRegister(std::span<const CFactoryTemplate> templates) {
  const std::filesystem::path library = LibraryPath();
  if (library.empty()) return E_FAIL;
  for (const CFactoryTemplate& entry : templates) {
    HRESULT hr = com_registry::RegisterServer({*entry.clsid, entry.name, library, "Both"});
    if (SUCCEEDED(hr) && entry.setup) {
      hr = com_registry::RegisterFilter(entry.setup());
      if (FAILED(hr)) com_registry::UnregisterServer(*entry.clsid);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ServerUnregister(std::span<const CFactoryTemplate> templates) {
  HRESULT result = S_OK;
  for (const CFactoryTemplate& entry : templates) {
    if (entry.setup) {
      const HRESULT hr = com_registry::UnregisterFilter(*entry.clsid);
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    const HRESULT hr = com_registry::UnregisterServer(*entry.clsid);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}
