// The program itself, headless on a private data directory, paired by the phone tool.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "host/tests/program_fixture.hpp"

namespace {

using namespace mirravale::host::testing;
namespace fs = std::filesystem;

TEST(Program, HeadlessHostPairsWithThePhoneTool) {
    Program host;
    const auto link = host.link();
    ASSERT_TRUE(link) << host.output();
    const auto printed = host.output();
    EXPECT_NE(printed.find("  Scan with Mirravale on your iPhone to control Test Host.\n"),
              std::string::npos);
    EXPECT_NE(printed.find("  Link: " + *link + "\n\n"), std::string::npos);

    const auto paired = host.pair();
    ASSERT_EQ(paired.status, 0) << paired.output;
    // A second visit that stays a moment, so the terminal shows the connection whatever its pace
    // (it prints the latest status, and a visit shorter than its reaction can pass unseen).
    const auto visit = host.phone({"stream", "--seconds", "1"});
    ASSERT_EQ(visit.status, 0) << visit.output;
    EXPECT_TRUE(host.wait_for(std::regex("● Connected: mirravale-phone\n"))) << host.output();

    const auto trust = host.dir() / "data" / "trusted-devices.json";
    ASSERT_TRUE(fs::exists(trust));
    struct stat info {};
    stat(trust.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    EXPECT_TRUE(std::regex_match(
        slurp(trust), std::regex("\\[\n  \\{\n    \"device_id\": \"[0-9a-f]{32}\",\n    \"name\": "
                                 "\"mirravale-phone\",\n    \"token_hash\": \"[0-9a-f]{64}\",\n    "
                                 "\"paired_at\": [0-9]+,\n    \"last_seen\": [0-9]+\n  \\}\n\\]")))
        << slurp(trust);

    // The link's fingerprint is the certificate file's SHA-256, as openssl computes it.
    const auto digest = run({"sh", "-c",
                             "openssl dgst -sha256 -binary \"$0\" | basenc --base64url | tr -d "
                             "'=\\n'",
                             (host.dir() / "data" / "certificate.der").string()});
    ASSERT_EQ(digest.status, 0) << digest.output;
    EXPECT_NE(link->find("&fp=" + digest.output + "&"), std::string::npos);
}

}  // namespace
