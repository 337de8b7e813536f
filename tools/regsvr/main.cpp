// regsvr [-u] LIBRARY: registers (or with -u unregisters) an in-process
// component server for the current user by calling its own entry point.

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/com/class_factory.h"
#include "platform/com/component_registry.h"

int main(int argc, char** argv) {
  bool unregister = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) {
      unregister = true;
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: regsvr [-u] LIBRARY\n"
          "Registers the component server LIBRARY for the current user in\n"
          "%s (-u removes it again).\n",
          com_registry::RegistryFile().c_str());
      return 0;
    } else if (!library) {
      library = argv[i];
    } else {
      library = nullptr;
      break;
    }
  }
  if (!library) {
    std::fprintf(stderr, "Usage: regsvr [-u] LIBRARY\n");
    return 2;
  }
  std::error_code ec;
  const auto path = std::filesystem::absolute(library, ec);
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", library, ::dlerror());
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const auto fn = reinterpret_cast<DllRegisterServerFn>(::dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s has no entry point %s\n", library, entry);
    return 4;
  }
  const HRESULT hr = fn();
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s in %s failed (0x%08x)\n", entry, library,
                 static_cast<unsigned>(hr));
    // The library's own registry code cannot tell us why; the usual reason
    // is the registry file, which we can judge from here.
    if (const std::string problem = com_registry::WriteProblem(); !problem.empty()) {
      std::fprintf(stderr, "regsvr: component registry %s\n", problem.c_str());
    }
    return 5;
  }
  std::printf("%s in %s succeeded.\n", entry, path.c_str());
  return 0;
}
