#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "core/identity.hpp"
#include "core/trust.hpp"

namespace mirravale::core {
namespace {

constexpr std::uint64_t NOW = 1'000'000;

TokenHash plain_sha256(const Token& token) {
    TokenHash digest{};
    unsigned int length = 0;
    EVP_Digest(token.data(), token.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

TEST(TrustBook, EnrollAgainReplacesTheRecordAndItsToken) {
    TrustBook book(secure_random());
    const DeviceId phone{1};
    const DeviceId other{2};
    const auto first = book.enroll(phone, "one", NOW);
    const auto others = book.enroll(other, "other", NOW + 1);
    const auto second = book.enroll(phone, "two", NOW + 5);

    ASSERT_EQ(book.devices().size(), 2u);
    EXPECT_EQ(book.devices()[0].device_id, other);  // re-pairing moves the record to the end
    EXPECT_EQ(book.devices()[1],
              (TrustedDevice{phone, "two", hash_token(second), NOW + 5, NOW + 5}));
    EXPECT_NE(first, second);
    EXPECT_FALSE(book.verify(phone, first));
    EXPECT_TRUE(book.verify(phone, second));
    EXPECT_TRUE(book.verify(other, others));
}

TEST(TrustBook, RefusesWrongPairings) {
    TrustBook book(secure_random());
    const DeviceId phone{1};
    const DeviceId other{2};
    const auto token = book.enroll(phone, "one", NOW);
    const auto others = book.enroll(other, "two", NOW);
    auto flipped = token;
    flipped[31] ^= 0x01;

    EXPECT_FALSE(book.verify(phone, others));       // another phone's token
    EXPECT_FALSE(book.verify(other, token));        // the right token, another device
    EXPECT_FALSE(book.verify(DeviceId{3}, token));  // unknown device
    EXPECT_FALSE(book.verify(phone, flipped));
    EXPECT_FALSE(book.verify(phone, Token{}));

    book.devices().clear();  // what forgetting every device does
    EXPECT_FALSE(book.verify(phone, token));
    EXPECT_FALSE(book.verify(other, others));
}

TEST(TrustBook, StoresOnlyTheLabelledHash) {
    Token zeros{};
    // SHA-256("mirravale-token-v1" || 32 zero bytes), computed independently with openssl dgst.
    EXPECT_EQ(hex(hash_token(zeros)),
              "145d6cafd1a9ff317685ea70726541fbfbdb2835a609cdcbf156428da0c65cfb");

    TrustBook book(secure_random());
    const auto a = book.enroll(DeviceId{1}, "", 0);
    const auto b = book.enroll(DeviceId{2}, "", 0);
    EXPECT_NE(a, b);
    EXPECT_NE(book.devices()[0].token_hash, book.devices()[1].token_hash);
    EXPECT_EQ(book.devices()[0].token_hash, hash_token(a));
    EXPECT_NE(book.devices()[0].token_hash, plain_sha256(a));
    EXPECT_NE(book.devices()[1].token_hash, plain_sha256(b));
}

TEST(TrustBook, TokenComesFromTheGivenSource) {
    TrustBook book([](std::span<std::uint8_t> out) { std::fill(out.begin(), out.end(), 0x5A); });
    Token expected{};
    expected.fill(0x5A);
    EXPECT_EQ(book.enroll(DeviceId{}, "x", NOW), expected);
}

}  // namespace
}  // namespace mirravale::core
