#include "tools/phone/link.hpp"

#include <charconv>
#include <map>

#include "wire/hex.hpp"

namespace mirravale::phone {
namespace {

Result<std::string> percent_decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || wire::hex_digit(text[i + 1]) < 0 ||
            wire::hex_digit(text[i + 2]) < 0) {
            return fail("a bad escape in the link");
        }
        out.push_back(
            static_cast<char>(wire::hex_digit(text[i + 1]) * 16 + wire::hex_digit(text[i + 2])));
        i += 2;
    }
    return out;
}

Result<std::vector<std::uint8_t>> base64url_decode(std::string_view text) {
    static constexpr std::string_view ALPHABET =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::vector<std::uint8_t> out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        const auto at = ALPHABET.find(c);
        if (at == std::string_view::npos)
            return fail("the fingerprint is not base64url");
        buffer = (buffer << 6) | static_cast<std::uint32_t>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(buffer >> bits));
        }
    }
    return out;
}

Result<asio::ip::tcp::endpoint> parse_address(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return fail("an address without a port in the link");
    std::string host(text.substr(0, colon));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    unsigned port = 0;
    const auto port_text = text.substr(colon + 1);
    const auto [end, ec] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    asio::error_code bad;
    const auto address = asio::ip::make_address(host, bad);
    if (ec != std::errc{} || end != port_text.data() + port_text.size() || port > 65535 || bad) {
        return fail("a bad address in the link: " + std::string(text));
    }
    return asio::ip::tcp::endpoint(address, static_cast<std::uint16_t>(port));
}

}  // namespace

Result<Link> parse_link(std::string_view url) {
    constexpr std::string_view PREFIX = "mirravale://pair?";
    if (!url.starts_with(PREFIX))
        return fail("not a pairing link (mirravale://pair?...)");
    std::map<std::string, std::string, std::less<>> values;
    for (auto rest = url.substr(PREFIX.size()); !rest.empty();) {
        const auto amp = rest.find('&');
        const auto pair = rest.substr(0, amp);
        const auto eq = pair.find('=');
        if (eq == std::string_view::npos)
            return fail("a link entry without a value");
        auto value = percent_decode(pair.substr(eq + 1));
        if (!value)
            return fail(value.error());
        values[std::string(pair.substr(0, eq))] = *value;
        rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
    }
    for (const char* key : {"v", "id", "n", "a", "fp", "c", "x"}) {
        if (!values.contains(key))
            return fail(std::string("the link has no ") + key);
    }
    if (values["v"] != "1")
        return fail("a link of another version");
    Link link;
    link.host_id = values["id"];
    link.name = values["n"];
    link.code = values["c"];
    link.expires_at = std::strtoull(values["x"].c_str(), nullptr, 10);
    const auto fp = base64url_decode(values["fp"]);
    if (!fp || fp->size() != 32)
        return fail("the link's fingerprint is not 32 bytes");
    std::copy(fp->begin(), fp->end(), link.fingerprint.begin());
    std::string_view addresses = values["a"];
    while (!addresses.empty()) {
        const auto comma = addresses.find(',');
        auto address = parse_address(addresses.substr(0, comma));
        if (!address)
            return fail(address.error());
        link.addresses.push_back(*address);
        addresses =
            comma == std::string_view::npos ? std::string_view{} : addresses.substr(comma + 1);
    }
    return link;
}

}  // namespace mirravale::phone
