#include "host/trust_file.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <variant>

#include <nlohmann/json.hpp>

#include "host/private_file.hpp"
#include "wire/hex.hpp"

namespace mirravale::host {
namespace {

using Json = nlohmann::json;

constexpr std::array<std::string_view, 5> MEMBERS = {"device_id", "name", "token_hash", "paired_at",
                                                     "last_seen"};

// Reads input for the parser and remembers how far it got, so errors found in the values can
// name where they are.
class CountingIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, std::size_t* consumed, const char* begin)
        : at_(at), consumed_(consumed), begin_(begin) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        *consumed_ = static_cast<std::size_t>(at_ - begin_);
        return *this;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }

  private:
    const char* at_;
    std::size_t* consumed_;
    const char* begin_;
};

using Scalar = std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, double, std::string>;

// Follows the parser's events and builds the devices; stops at the first fault.
class Reader final : public nlohmann::json_sax<Json> {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::size_t* consumed() { return &consumed_; }
    std::vector<core::TrustedDevice>& devices() { return devices_; }
    const std::string& error() const { return error_; }

    bool null() override { return scalar(nullptr); }
    bool boolean(bool value) override { return scalar(value); }
    bool number_integer(number_integer_t value) override { return number(value); }
    bool number_unsigned(number_unsigned_t value) override { return number(value); }
    bool number_float(number_float_t value, const string_t&) override { return number(value); }
    bool string(string_t& value) override { return scalar(std::move(value)); }
    bool binary(binary_t&) override { return scalar(nullptr); }
    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override {
        if (skipping_ > 0) {
            return true;
        }
        pending_ = IGNORED;
        for (std::size_t i = 0; i < MEMBERS.size(); ++i) {
            if (name == MEMBERS[i]) {
                if (seen_ & (1u << i)) {
                    return refuse("duplicate member \"" + name + "\"");
                }
                pending_ = static_cast<int>(i);
            }
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& error) override {
        // Drop the library's "[json.exception.parse_error.101] " tag; keep its sentence.
        std::string_view message = error.what();
        if (message.starts_with('[')) {
            if (const auto end = message.find("] "); end != std::string_view::npos) {
                message.remove_prefix(end + 2);
            }
        }
        error_ = message;
        return false;
    }

  private:
    static constexpr int IGNORED = -1;
    static constexpr int NONE = -2;

    // Where the parser is: outside the list, in the list, or in one device.
    enum class Depth { outside, list, device };

    bool open(bool object) {
        if (skipping_ > 0) {
            ++skipping_;
            return true;
        }
        switch (depth_) {
            case Depth::outside:
                if (object) {
                    return refuse("expected an array of trusted devices");
                }
                depth_ = Depth::list;
                return true;
            case Depth::list:
                depth_ = Depth::device;
                device_is_object_ = object;
                seen_ = 0;
                values_ = 0;
                pending_ = NONE;
                current_ = {};
                return true;
            case Depth::device:
                if (device_is_object_ && pending_ == IGNORED) {
                    skipping_ = 1;
                    return true;
                }
                return assign(nullptr, true);
        }
        return false;
    }

    bool close() {
        if (skipping_ > 0) {
            if (--skipping_ == 0) {
                pending_ = NONE;
            }
            return true;
        }
        if (depth_ == Depth::list) {
            depth_ = Depth::outside;
            return true;
        }
        for (std::size_t i = 0; i < MEMBERS.size(); ++i) {
            if (!(seen_ & (1u << i))) {
                return device_is_object_
                           ? refuse("missing member \"" + std::string(MEMBERS[i]) + "\"")
                           : refuse("expected 5 values in a trusted device, found " +
                                    std::to_string(values_));
            }
        }
        devices_.push_back(std::move(current_));
        depth_ = Depth::list;
        return true;
    }

    // The parser reads one character past a number to see that it ended; faults in the number
    // are placed at its last digit.
    bool number(Scalar value) {
        const std::size_t read = consumed_;
        if (consumed_ > 0 && std::string_view("0123456789.eE+-").find(text_[consumed_ - 1]) ==
                                 std::string_view::npos) {
            --consumed_;
        }
        const bool accepted = scalar(std::move(value));
        consumed_ = read;
        return accepted;
    }

    bool scalar(Scalar value) {
        if (skipping_ > 0) {
            return true;
        }
        switch (depth_) {
            case Depth::outside:
                return refuse("expected an array of trusted devices");
            case Depth::list:
                return refuse("expected a trusted device (an object or an array of 5 values)");
            case Depth::device:
                if (device_is_object_ && pending_ == IGNORED) {
                    pending_ = NONE;
                    return true;
                }
                return assign(std::move(value), false);
        }
        return false;
    }

    // One value of the current device: the pending member, or the next value of the array form.
    bool assign(Scalar value, bool container) {
        const int field = device_is_object_ ? pending_ : static_cast<int>(values_);
        if (field < 0 || field >= static_cast<int>(MEMBERS.size())) {
            return refuse("expected 5 values in a trusted device");
        }
        pending_ = NONE;
        ++values_;
        seen_ |= 1u << field;
        const std::string what =
            "\"" + std::string(MEMBERS[static_cast<std::size_t>(field)]) + "\"";
        auto* text = container ? nullptr : std::get_if<std::string>(&value);
        switch (field) {
            case 0:
                if (!text)
                    return refuse("expected a string for " + what);
                if (!wire::from_hex(*text, current_.device_id)) {
                    return refuse("expected hex of the right length");
                }
                return true;
            case 1:
                if (!text)
                    return refuse("expected a string for " + what);
                current_.name = std::move(*text);
                return true;
            case 2:
                if (!text)
                    return refuse("expected a string for " + what);
                if (!wire::from_hex(*text, current_.token_hash)) {
                    return refuse("expected hex of the right length");
                }
                return true;
            default: {
                std::optional<std::uint64_t> seconds;
                if (container) {
                } else if (auto* u = std::get_if<std::uint64_t>(&value)) {
                    seconds = *u;
                } else if (auto* i = std::get_if<std::int64_t>(&value); i && *i >= 0) {
                    seconds = static_cast<std::uint64_t>(*i);
                }
                if (!seconds) {
                    return refuse("expected an integer from 0 to 18446744073709551615 for " + what);
                }
                (field == 3 ? current_.paired_at : current_.last_seen) = *seconds;
                return true;
            }
        }
    }

    // Records a fault at the parser's current position and stops the parse.
    bool refuse(const std::string& fault) {
        std::size_t line = 1;
        std::size_t line_start = 0;
        for (std::size_t i = 0; i < consumed_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        }
        error_ = fault + " at line " + std::to_string(line) + ", column " +
                 std::to_string(consumed_ - line_start);
        return false;
    }

    std::string_view text_;
    std::size_t consumed_ = 0;
    std::vector<core::TrustedDevice> devices_;
    std::string error_;

    Depth depth_ = Depth::outside;
    bool device_is_object_ = false;
    unsigned seen_ = 0;         // bit i: member i of MEMBERS was given
    std::size_t values_ = 0;    // values given in the current device
    int pending_ = NONE;        // member whose value comes next (object form)
    std::size_t skipping_ = 0;  // nesting inside an ignored member's value
    core::TrustedDevice current_;
};

}  // namespace

std::string write_trusted_devices(const std::vector<core::TrustedDevice>& devices) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& device : devices) {
        nlohmann::ordered_json entry;
        entry["device_id"] = wire::hex(device.device_id);
        entry["name"] = device.name;
        entry["token_hash"] = wire::hex(device.token_hash);
        entry["paired_at"] = device.paired_at;
        entry["last_seen"] = device.last_seen;
        list.push_back(std::move(entry));
    }
    // A name that is not UTF-8 would make the writer throw; store U+FFFD in its place.
    return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Result<std::vector<core::TrustedDevice>> read_trusted_devices(std::string_view text) {
    Reader reader(text);
    const char* begin = text.data();
    const bool parsed =
        Json::sax_parse(CountingIterator(begin, reader.consumed(), begin),
                        CountingIterator(begin + text.size(), nullptr, begin), &reader);
    if (!parsed) {
        return fail(reader.error());
    }
    return std::move(reader.devices());
}

Result<std::vector<core::TrustedDevice>> TrustFile::load() {
    auto bytes = read_whole(path_);
    if (!bytes) {
        if (bytes.error().code == ENOENT) {
            return std::vector<core::TrustedDevice>{};
        }
        return fail(bytes.error().text);
    }
    return read_trusted_devices(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

Status TrustFile::save(const std::vector<core::TrustedDevice>& devices) {
    const std::string text = write_trusted_devices(devices);
    std::lock_guard lock(saving_);
    return write_private(path_, text);
}

}  // namespace mirravale::host
