#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/identity.hpp"
#include "core/pairing.hpp"

namespace mirravale::core {
namespace {

std::vector<std::uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(Encodings, Table) {
    struct Case {
        std::vector<std::uint8_t> in;
        std::string hex, b64, crock;
    };
    const std::vector<Case> cases = {
        {{}, "", "", ""},
        {{0x00, 0xFF}, "00ff", "AP8", "03ZG"},
        {bytes("abc"), "616263", "YWJj", "C5H66"},
        {bytes("ab"), "6162", "YWI", "C5H0"},
        {bytes("a"), "61", "YQ", "C4"},
        {{0xFB, 0xFF}, "fbff", "-_8", "ZFZG"},
        {{0xFF}, "ff", "_w", "ZW"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(c.in), c.hex);
        EXPECT_EQ(base64url(c.in), c.b64);
        EXPECT_EQ(crockford(c.in), c.crock);
    }
    EXPECT_EQ(base64url(std::vector<std::uint8_t>(32, 0)), std::string(43, 'A'));
    EXPECT_EQ(crockford(std::vector<std::uint8_t>(16, 0)), std::string(26, '0'));
    EXPECT_EQ(crockford(std::vector<std::uint8_t>(16, 0xFF)), std::string(25, 'Z') + "W");
}

TEST(InviteUrl, NameAndAddressesAreEscaped) {
    HostIdentity identity;
    identity.name =
        "Mac de L\xC3\xA9"
        "a";
    identity.host_id.fill(0xAB);
    PairingCode code{"0123456789ABCDEFGHJKMNPQRS", 1700000600};
    const auto v6 = asio::ip::make_address_v6("fe80::1");
    auto scoped = v6;
    scoped.scope_id(4);
    const std::vector<asio::ip::tcp::endpoint> addresses = {
        {asio::ip::make_address_v4("192.168.1.20"), 47474}, {scoped, 47474}};

    EXPECT_EQ(invite_url(identity, addresses, code),
              "mirravale://pair?v=1&id=abababababababababababababababab&n=Mac%20de%20L%C3%A9a"
              "&a=192.168.1.20%3A47474%2C%5Bfe80%3A%3A1%254%5D%3A47474"
              "&fp=" +
                  std::string(43, 'A') + "&c=0123456789ABCDEFGHJKMNPQRS&x=1700000600");
    EXPECT_EQ(invite_url(HostIdentity{}, {}, PairingCode{"", 0}),
              "mirravale://pair?v=1&id=00000000000000000000000000000000&n=&a=&fp=" +
                  std::string(43, 'A') + "&c=&x=0");
}

TEST(InviteUrl, AddressTexts) {
    EXPECT_EQ(address_text({asio::ip::make_address("2001:db8:0:0:1:0:0:1"), 80}),
              "[2001:db8::1:0:0:1]:80");
    // One zero field is not compressed, hex is lowercase, the first of equal runs is shortened.
    EXPECT_EQ(address_text({asio::ip::make_address("2001:DB8:0:1:1:1:1:1"), 1}),
              "[2001:db8:0:1:1:1:1:1]:1");
    EXPECT_EQ(address_text({asio::ip::make_address("2001:0:0:1:0:0:1:1"), 1}),
              "[2001::1:0:0:1:1]:1");
    EXPECT_EQ(address_text({asio::ip::make_address("::"), 65535}), "[::]:65535");
    EXPECT_EQ(address_text({asio::ip::make_address("10.0.0.1"), 0}), "10.0.0.1:0");
    EXPECT_EQ(percent_escape("a-b.c_d~e/f%"), "a-b.c_d~e%2Ff%25");
}

}  // namespace
}  // namespace mirravale::core
