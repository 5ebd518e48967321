#include <gtest/gtest.h>

#include "core/identity.hpp"
#include "core/pairing.hpp"

namespace mirravale::core {
namespace {

// Counts up from a seed, so each draw differs and tests are repeatable.
RandomSource counting_random() {
    auto next = std::make_shared<std::uint8_t>(0);
    return [next](std::span<std::uint8_t> out) {
        for (auto& b : out)
            b = (*next)++;
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
        {"\xE2\x80\x83"
         "ab\xC2\xA0"
         "c\xE3\x80\x80",
         "ABC"},                         // em space, no-break, ideographic
        {"caf\xC3\xA9", "CAF\xC3\xA9"},  // non-ASCII kept unchanged
        {"u", "U"},
        {"", ""},
        {"\xC0\xA0"
         "a",
         "\xC0\xA0"
         "A"},  // overlong space is not white space
        {"\xE0\x80\xAD"
         "a",
         "\xE0\x80\xAD"
         "A"},                       // nor an overlong "-"
        {"a\xE2\x80", "A\xE2\x80"},  // cut-off character kept as bytes
        {"\xE2\x81\x9F"
         "x\xE1\x9A\x80",
         "X"},  // medium mathematical space, ogham space
        {"\xE2\x80\x8B"
         "x",
         "\xE2\x80\x8B"
         "X"},  // zero-width space is not White_Space
    };
    for (const auto& [typed, expected] : cases) {
        EXPECT_EQ(normalise_code(typed), expected) << typed;
    }
}

TEST(PairingCode, ExpiryNeverWrapsAround) {
    const auto code = PairingCode::generate(NOW, ~std::uint64_t{0}, counting_random());
    EXPECT_EQ(code.expires_at, ~std::uint64_t{0});
}

TEST(PairingBook, AcceptsTheCurrentCodeTypedLoosely) {
    PairingBook book(NOW, TTL, counting_random());
    const std::string code = book.current().code;
    std::string loose = "  ";
    for (std::size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '1')
            c = 'l';
        if (c == '0')
            c = 'o';
        loose.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        if (i % 4 == 3)
            loose += i % 8 == 3 ? "-" : " ";
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

    PairingBook fresh(NOW, TTL, counting_random());
    EXPECT_EQ(fresh.redeem(fresh.current().code, NOW + TTL - 1), RedeemOutcome::Accepted);
}

TEST(PairingBook, KeepsEightRetiredCodes) {
    PairingBook book(NOW, TTL, counting_random());
    const auto first = book.current().code;
    for (int i = 0; i < 8; ++i)
        book.rotate(NOW);
    EXPECT_EQ(book.redeem(first, NOW), RedeemOutcome::Expired);
    book.rotate(NOW);  // ninth rotation
    EXPECT_EQ(book.retired().size(), 8u);
    EXPECT_EQ(book.redeem(first, NOW), RedeemOutcome::Mismatch);
}

TEST(PairingBook, Mismatches) {
    PairingBook book(NOW, TTL, counting_random());
    book.rotate(NOW);
    auto code = book.current().code;
    auto changed = code;
    changed[5] = changed[5] == 'A' ? 'B' : 'A';
    auto with_u = code;
    with_u[0] = 'U';
    const auto prefix = code.substr(0, 25);
    for (const auto& presented : {changed, with_u, code + "\xC3\xA9", prefix, std::string()}) {
        EXPECT_EQ(book.redeem(presented, NOW), RedeemOutcome::Mismatch) << presented;
    }
    EXPECT_EQ(book.current().code, code);
}

}  // namespace
}  // namespace mirravale::core
