#pragma once
// "trusted-devices.json": the paired phones, kept as a JSON array written whole at every change.

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.hpp"
#include "core/trust.hpp"
#include "wire/result.hpp"

namespace mirravale::host {

// The written layout: two-space indentation, members in record order, "[]" when empty, no
// final line feed.
std::string write_trusted_devices(const std::vector<core::TrustedDevice>& devices);

// Reads any JSON layout of an array whose elements are objects with the five members (in any
// order, others ignored) or arrays of the five values. Errors name the line and column.
Result<std::vector<core::TrustedDevice>> read_trusted_devices(std::string_view text);

// The trust store of the data directory.
class TrustFile final : public core::TrustStore {
  public:
    explicit TrustFile(std::filesystem::path path) : path_(std::move(path)) {}

    // No file yet is an empty list.
    Result<std::vector<core::TrustedDevice>> load() override;
    Status save(const std::vector<core::TrustedDevice>& devices) override;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::mutex saving_;  // one writer of the companion file at a time
};

}  // namespace mirravale::host
