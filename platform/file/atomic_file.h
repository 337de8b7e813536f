#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Replaces the file at target with bytes so that a concurrent reader sees
// either the old contents or the new ones, never a mixture: the bytes go to
// a fresh file in the same folder, which is then renamed over the target.
// On failure nothing is left behind, the target is untouched and error (when
// given) says why.
bool ReplaceFileContents(const std::filesystem::path& target, std::string_view bytes,
                         std::string* error = nullptr);
