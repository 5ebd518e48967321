#pragma once
// Files of the data directory: written whole, owner-only, and never left half-written.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "wire/result.hpp"

namespace mirravale::host {

// Where a file is written before it replaces `path`: the extension becomes "tmp"
// ("trusted-devices.json" -> "trusted-devices.tmp", "host-id" -> "host-id.tmp").
std::filesystem::path companion_of(const std::filesystem::path& path);

// Writes `bytes` to the companion (mode 0600), forces it to stable storage, renames it onto
// `path` in one step and forces the directory entry too. A crash at any moment leaves either
// the old file or the new one. Errors: "cannot write {companion}: {reason}" when the companion
// cannot be opened, else the system's reason alone.
Status write_private(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
Status write_private(const std::filesystem::path& path, std::string_view text);

// What reading a whole file gave: its bytes, or the system error (errno and its text).
struct ReadError {
    int code;
    std::string text;
};
Result<std::vector<std::uint8_t>, ReadError> read_whole(const std::filesystem::path& path);

}  // namespace mirravale::host
