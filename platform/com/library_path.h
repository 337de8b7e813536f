#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

// The absolute path of the shared library (or program) that holds
// `anyObjectOfIt`, for a component server registering itself; empty when
// the loader cannot tell.
inline std::filesystem::path PathOfLibraryHolding(const void* anyObjectOfIt) {
  Dl_info info{};
  if (!dladdr(anyObjectOfIt, &info) || !info.dli_fname) return {};
  std::error_code error;
  auto path = std::filesystem::absolute(info.dli_fname, error);
  return error ? std::filesystem::path() : path.lexically_normal();
}
