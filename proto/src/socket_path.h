// Where the application's socket lives. Pure path arithmetic: nothing here
// touches the file system.
#pragma once

#include <string>
#include <string_view>

namespace elmpad {

inline constexpr std::string_view kBundleId = "com.tarn.elmwrite";
inline constexpr std::string_view kSocketFileName = "elmpad.sock";

/// Joins two path texts the way a path join does: `tail` replaces `base` when
/// absolute, and one separator is added only when `base` lacks one.
std::string join_path(std::string_view base, std::string_view tail);

/// <dir>/<bundle_id>/elmpad.sock
std::string socket_path_under(std::string_view dir, std::string_view bundle_id);

/// <home>/Library/Application Support/com.tarn.elmwrite/elmpad.sock. `home`
/// is taken as raw bytes; an empty home yields a relative path.
std::string socket_path(std::string_view home);

}  // namespace elmpad
