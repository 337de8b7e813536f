#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The folder for this user's KML and log files: a directory under the system
// temporary folder that only this user can enter, so that another local user
// can neither read the flight nor plant a link where we write. Empty (with
// the reason in error) when the place is taken by something we must not use.
std::optional<std::filesystem::path> PrivateTempFolder(std::string* error = nullptr);
