#include <gtest/gtest.h>

#include "net/addresses.hpp"

namespace mirravale::net {
namespace {

std::vector<std::string> texts(const std::vector<asio::ip::tcp::endpoint>& list) {
    std::vector<std::string> out;
    for (const auto& e : list)
        out.push_back(e.address().to_string());
    return out;
}

InterfaceAddress on(const char* name, const char* address) {
    return {name, asio::ip::make_address(address)};
}

TEST(LanAddresses, Table) {
    struct Case {
        std::vector<InterfaceAddress> interfaces;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{on("en5", "10.0.0.7"), on("utun3", "10.8.0.2"), on("en0", "192.168.1.20")},
         {"192.168.1.20", "10.0.0.7"}},
        {{on("en0", "192.168.1.30"), on("en0", "192.168.1.4")}, {"192.168.1.4", "192.168.1.30"}},
        {{on("en0", "8.8.4.4"), on("en0", "fe80::1"), on("en0", "169.254.10.10"),
          on("lo", "127.0.0.1"), on("eth0", "100.64.0.1"), on("eth0", "172.31.255.255"),
          on("eth0", "172.32.0.1")},
         {"100.64.0.1", "172.31.255.255"}},
        {{on("eth0", "10.0.0.6"), on("eth0", "10.0.0.5"), on("en1", "10.0.0.4"),
          on("en1", "10.0.0.3"), on("en0", "10.0.0.2"), on("en0", "10.0.0.1")},
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}},
        {{on("en0", "10.0.0.1"), on("en0", "10.0.0.1"), on("bridge0", "192.168.2.1")},
         {"10.0.0.1"}},
    };
    for (const auto& c : cases) {
        const auto list = select_lan_addresses(c.interfaces, 47474);
        EXPECT_EQ(texts(list), c.expected);
        for (const auto& e : list)
            EXPECT_EQ(e.port(), 47474);
    }
}

TEST(TxtRecord, Bytes) {
    core::HostIdentity identity;
    identity.name = "Mac";
    for (std::uint8_t i = 0; i < 16; ++i)
        identity.host_id[i] = i;
    const auto record = txt_record(identity);
    std::string expected = "\x23id=000102030405060708090a0b0c0d0e0f\x03v=1\x05n=Mac";
    EXPECT_EQ(std::string(record.begin(), record.end()), expected);
    EXPECT_EQ(record.size(), 46u);

    std::string long_name;
    for (int i = 0; i < 61; ++i)
        long_name += "é";
    identity.name = long_name;
    const auto cut = txt_record(identity);
    EXPECT_EQ(cut[cut.size() - 123], 122);  // "n=" and 60 two-byte letters
}

}  // namespace
}  // namespace mirravale::net
