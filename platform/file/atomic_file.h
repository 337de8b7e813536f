#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Writes bytes to the file that target names, so that no one who reads it
// ever sees a mixture of old and new, and no failure destroys it:
//  - A symbolic link is followed to the file it finally names: the link
//    stays, and that file is replaced in its own folder.
//  - A regular file (or none yet) is replaced in one step: the bytes go to a
//    fresh file in the same folder, which is then renamed over the target.
//    On failure nothing is left behind and the old file is untouched.
//  - Anything else (a device such as /dev/null, a pipe) is written in
//    place, never replaced. A pipe that no one reads fails at once rather
//    than wait for a reader.
// On failure error (when given) names the file and gives the system's
// reason, and errno holds that reason.
bool ReplaceFileContents(const std::filesystem::path& target, std::string_view bytes,
                         std::string* error = nullptr);

// The file a path finally names once every symbolic link on the way is
// followed, whether or not that file exists yet. Folders above it are left
// as they are written. A loop of links gives ELOOP in code.
std::filesystem::path FollowLinks(const std::filesystem::path& path, std::error_code& code);
