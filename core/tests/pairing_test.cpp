#include <gtest/gtest.h>

#include "core/identity.hpp"
#include "core/pairing.hpp"
#include "core/trust.hpp"

namespace mirravale::core {
namespace {

// Counts up from a seed, so each draw differs and tests are repeatable.
RandomSource counting_random() {
    auto next = std::make_shared<std::uint8_t>(0);
    return [next](std::span<std::uint8_t> out) {
        for (auto& b : out) b = (*next)++;
    };
}

constexpr std::uint64_t NOW = 1'000'000;
constexpr std::uint64_t TTL = 600;

TEST(PairingCode, IsTwentySixCrockfordCharacters) {
    const auto code = PairingCode::generate(NOW, TTL, secure_random());
    EXPECT_EQ(code.code.size(), 26u);
    EXPECT_EQ(code.code.find_first_not_of("0123456789ABCDEFGHJKMNPQRSTVWXYZ"), std::string::npos);
    EXPECT_EQ(code.expires_at, NOW + TTL);
}

TEST(Normalise, Table) {
    const std::pair<const char*, const char*> cases[] = {
        {"  ab-cd ef\t", "ABCDEF"},
        {"iIlLoO", "111100"},
        {"\xE2\x80\x83" "ab\xC2\xA0" "c\xE3\x80\x80", "ABC"},  // em space, no-break, ideographic
        {"caf\xC3\xA9", "CAF\xC3\xA9"},                          // non-ASCII kept unchanged
        {"u", "U"},
        {"", ""},
    };
    for (const auto& [typed, expected] : cases) {
        EXPECT_EQ(normalise_code(typed), expected) << typed;
    }
}

TEST(PairingBook, AcceptsTheCurrentCodeTypedLoosely) {
    PairingBook book(NOW, TTL, counting_random());
    const std::string code = book.current().code;
    std::string loose = "  ";
    for (std::size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '1') c = 'l';
        if (c == '0') c = 'o';
        loose.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        if (i % 4 == 3) loose += i % 8 == 3 ? "-" : " ";
    }
    EXPECT_EQ(book.redeem(loose, NOW), RedeemOutcome::Accepted);
    EXPECT_NE(book.current().code, code);
    EXPECT_EQ(book.redeem(code, NOW), RedeemOutcome::Expired);  // used once already
}

TEST(PairingBook, ExpiredCurrentCodeIsConsumed) {
    PairingBook book(NOW, TTL, counting_random());
    const auto code = book.current().code;
    EXPECT_EQ(book.redeem(code, NOW + TTL), RedeemOutcome::Expired);
    EXPECT_NE(book.current().code, code);
    EXPECT_EQ(book.current().expires_at, NOW + 2 * TTL);
}

TEST(PairingBook, KeepsEightRetiredCodes) {
    PairingBook book(NOW, TTL, counting_random());
    const auto first = book.current().code;
    for (int i = 0; i < 8; ++i) book.rotate(NOW);
    EXPECT_EQ(book.redeem(first, NOW), RedeemOutcome::Expired);
    book.rotate(NOW);  // ninth rotation
    EXPECT_EQ(book.retired().size(), 8u);
    EXPECT_EQ(book.redeem(first, NOW), RedeemOutcome::Mismatch);
}

TEST(PairingBook, Mismatches) {
    PairingBook book(NOW, TTL, counting_random());
    auto code = book.current().code;
    auto changed = code;
    changed[5] = changed[5] == 'A' ? 'B' : 'A';
    auto with_u = code;
    with_u[0] = 'U';
    for (const auto& presented : {changed, with_u, code + "\xC3\xA9", std::string()}) {
        EXPECT_EQ(book.redeem(presented, NOW), RedeemOutcome::Mismatch) << presented;
    }
    EXPECT_EQ(book.current().code, code);
}

TEST(TrustBook, EnrollAndVerify) {
    TrustBook book(counting_random());
    const DeviceId phone{1};
    const DeviceId other{2};
    const auto first = book.enroll(phone, "one", NOW);
    const auto others = book.enroll(other, "other", NOW + 1);
    const auto second = book.enroll(phone, "two", NOW + 5);

    ASSERT_EQ(book.devices().size(), 2u);
    EXPECT_EQ(book.devices()[0].device_id, other);  // re-pairing moves the record to the end
    EXPECT_EQ(book.devices()[1].name, "two");
    EXPECT_EQ(book.devices()[1].paired_at, NOW + 5);
    EXPECT_EQ(book.devices()[1].last_seen, NOW + 5);
    EXPECT_NE(first, second);
    EXPECT_FALSE(book.verify(phone, first));
    EXPECT_TRUE(book.verify(phone, second));
    EXPECT_FALSE(book.verify(other, second));
    EXPECT_TRUE(book.verify(other, others));
    book.devices().clear();
    EXPECT_FALSE(book.verify(other, others));
}

TEST(TrustBook, HashCarriesTheLabel) {
    Token token{};
    token.fill(0);
    // SHA-256("mirravale-token-v1" || 32 zero bytes), computed independently with openssl dgst.
    EXPECT_EQ(hex(hash_token(token)), "145d6cafd1a9ff317685ea70726541fbfbdb2835a609cdcbf156428da0c65cfb");
    TrustBook book(secure_random());
    const auto issued = book.enroll(DeviceId{}, "", 0);
    EXPECT_EQ(book.devices()[0].token_hash, hash_token(issued));
}

}  // namespace
}  // namespace mirravale::core
