// regsvr [-u] LIBRARY: registers (or with -u unregisters) an in-process
// component server for the current user by calling its own entry point.

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/class_factory.h"
#include "platform/com/component_registry.h"
#include "tools/cli/command_line.h"

namespace {

const cli::Tool kTool{"regsvr", "Usage: regsvr [-u] LIBRARY"};

struct Arguments {
  bool unregister = false;
  std::string library;
};

Arguments Parse(cli::ArgumentReader args) {
  Arguments parsed;
  bool haveLibrary = false;
  while (!args.AtEnd()) {
    const cli::ArgumentReader::Argument arg = args.Next();
    if (arg.operand) {
      if (haveLibrary) throw cli::UsageError("only one LIBRARY at a time");
      parsed.library = std::string(arg.text);
      haveLibrary = true;
    } else if (arg.name == "-u") {
      parsed.unregister = true;
    } else {
      cli::ArgumentReader::Unknown(arg);
    }
  }
  if (!haveLibrary) throw cli::UsageError("no LIBRARY given");
  return parsed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
  if (cli::Mentions(args, "--version")) {
    kTool.PrintVersion();
    return 0;
  }
  if (cli::Mentions(args, "-h") || cli::Mentions(args, "--help")) {
    std::printf(
        "%s\n"
        "Registers the component server LIBRARY for the current user in\n"
        "%s (-u removes it again).\n",
        kTool.UsageLine().c_str(), com_registry::RegistryFile().c_str());
    return 0;
  }
  Arguments parsed;
  try {
    parsed = Parse(cli::ArgumentReader(args));
  } catch (const cli::UsageError& e) {
    return kTool.UsageFailure(e.what());
  }
  const bool unregister = parsed.unregister;
  const char* library = parsed.library.c_str();
  std::error_code ec;
  const auto path = std::filesystem::absolute(library, ec);
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    return kTool.Fail(3, std::string("cannot load ") + library + ": " + ::dlerror());
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const auto fn = reinterpret_cast<DllRegisterServerFn>(::dlsym(handle, entry));
  if (!fn) {
    return kTool.Fail(4, std::string(library) + " has no entry point " + entry);
  }
  const HRESULT hr = fn();
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
    kTool.Fail(5, std::string(entry) + " in " + library + " failed (" + code + ")");
    // The library's own registry code cannot tell us why; the usual reason
    // is the registry file, which we can judge from here.
    if (const std::string problem = com_registry::WriteProblem(); !problem.empty()) {
      kTool.Fail(5, "component registry " + problem);
    }
    return 5;
  }
  std::printf("%s in %s succeeded.\n", entry, path.c_str());
  return 0;
}
