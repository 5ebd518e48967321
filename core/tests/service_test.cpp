#include <gtest/gtest.h>

#include <thread>

#include <netinet/in.h>
#include <asio/io_context.hpp>

#include "core/service.hpp"
#include "core/testing/fakes.hpp"

namespace mirravale::core {
namespace {

using testing::FakePorts;

struct ServiceFixture : ::testing::Test {
    FakePorts fakes;
    std::uint64_t now = 1'000'000;
    asio::io_context io;
    std::shared_ptr<HostService> service = make();

    std::shared_ptr<HostService> make() {
        HostIdentity identity{"Studio", {}, {}};
        return HostService::create(identity, fakes.ports(), ServiceConfig{}, secure_random(),
                                   [this] { return now; });
    }
    wire::client::Hello hello(std::uint8_t id, std::string name, wire::HelloAuth auth) {
        wire::client::Hello h;
        h.version = 1;
        h.device_id[0] = id;
        h.device_name = std::move(name);
        h.auth = std::move(auth);
        return h;
    }
    wire::HelloAuth code_auth() {
        const auto url = service->status().latest().first.invite_url;
        return {wire::HelloAuth::PairingCode{url.substr(url.find("&c=") + 3, 26)}};
    }
    // Whatever the kick channel holds: a reason, or "closed" when the sender was dropped.
    std::optional<wire::GoodbyeReason> kicked(const Claim& claim, bool* closed = nullptr) {
        std::optional<wire::GoodbyeReason> reason;
        bool was_closed = false;
        claim.kick->async_receive([&](asio::error_code ec, wire::GoodbyeReason r) {
            if (ec) {
                was_closed = true;
            } else {
                reason = r;
            }
        });
        io.poll();
        io.restart();
        if (closed)
            *closed = was_closed;
        return reason;
    }
};

TEST_F(ServiceFixture, PairByCodeThenLogInWithToken) {
    const auto paired = service->authenticate(hello(1, "Léa's phone", code_auth()));
    ASSERT_TRUE(paired.ok());
    ASSERT_TRUE(paired->token.has_value());
    EXPECT_EQ(fakes.trust_store->saved().size(), 1u);

    now += 50;
    const auto again =
        service->authenticate(hello(1, "", {wire::HelloAuth::Token{*paired->token}}));
    ASSERT_TRUE(again.ok());
    EXPECT_FALSE(again->token.has_value());
    const auto device = fakes.trust_store->saved().at(0);
    EXPECT_EQ(device.name, "Léa's phone");  // an empty name keeps the stored one
    EXPECT_EQ(device.last_seen, now);

    const auto wrong =
        service->authenticate(hello(2, "x", {wire::HelloAuth::Token{*paired->token}}));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error().code, wire::ErrorCode::Unauthorized);
    EXPECT_EQ(
        wrong.error().message,
        "This Mac no longer recognises your device. Scan the code on your Mac to pair again.");
}

TEST_F(ServiceFixture, CodeRefusals) {
    const auto auth = code_auth();
    ASSERT_TRUE(service->authenticate(hello(1, "a", auth)).ok());
    const auto reused = service->authenticate(hello(2, "b", auth));
    ASSERT_FALSE(reused.ok());
    EXPECT_EQ(reused.error().code, wire::ErrorCode::CodeExpired);
    EXPECT_EQ(reused.error().message,
              "This code has already been used or has expired. Scan the new code on your Mac.");
    const auto wrong = service->authenticate(hello(2, "b", {wire::HelloAuth::PairingCode{"nope"}}));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error().code, wire::ErrorCode::Unauthorized);
    EXPECT_EQ(wrong.error().message,
              "That is not this Mac's current code. Scan the code shown in Mirravale on your Mac.");
    EXPECT_EQ(fakes.trust_store->saves(), 1);  // refusals save nothing
}

TEST_F(ServiceFixture, FailingSaveStillPairs) {
    fakes.trust_store->fail_saves("disk full");
    const auto paired = service->authenticate(hello(1, "a", code_auth()));
    ASSERT_TRUE(paired.ok());
    EXPECT_TRUE(
        service->authenticate(hello(1, "a", {wire::HelloAuth::Token{*paired->token}})).ok());
}

TEST_F(ServiceFixture, ReplacedSessionCannotReleaseItsSuccessor) {
    const auto first = service->claim("one", io.get_executor());
    const auto second = service->claim("two", io.get_executor());
    EXPECT_EQ(kicked(first), wire::GoodbyeReason::Replaced);
    service->release(first.claim_id);
    ASSERT_TRUE(service->status().latest().first.controller.has_value());
    EXPECT_EQ(service->status().latest().first.controller->device_name, "two");

    service->disconnect();
    EXPECT_EQ(kicked(second), wire::GoodbyeReason::Normal);
    service->disconnect();  // the sender is used up: nothing more
    EXPECT_TRUE(service->status().latest().first.controller.has_value());
    service->release(second.claim_id);
    EXPECT_FALSE(service->status().latest().first.controller.has_value());
}

TEST_F(ServiceFixture, ReleasedControllerClosesItsKick) {
    const auto claim = service->claim("one", io.get_executor());
    service->release(claim.claim_id);
    bool closed = false;
    EXPECT_FALSE(kicked(claim, &closed).has_value());
    EXPECT_TRUE(closed);
}

TEST_F(ServiceFixture, ForgetAllRevokesAndEmpties) {
    ASSERT_TRUE(service->authenticate(hello(1, "a", code_auth())).ok());
    const auto claim = service->claim("a", io.get_executor());
    service->forget_all_devices();
    EXPECT_EQ(kicked(claim), wire::GoodbyeReason::Revoked);
    EXPECT_TRUE(fakes.trust_store->saved().empty());
    EXPECT_TRUE(service->status().latest().first.paired_devices.empty());
}

TEST_F(ServiceFixture, PublishesOnlyChanges) {
    const auto version = [&] { return service->status().latest().second; };
    const auto start = version();
    service->tick();
    EXPECT_EQ(version(), start);
    service->set_notice("stream stopped");
    service->set_notice("stream stopped");
    EXPECT_EQ(version(), start + 1);
    fakes.permissions->set(1);
    service->tick();
    EXPECT_EQ(version(), start + 2);
    const std::vector<asio::ip::tcp::endpoint> addresses = {
        {asio::ip::make_address("192.168.1.5"), 47474}};
    service->set_addresses(addresses);
    service->set_addresses(addresses);
    EXPECT_EQ(version(), start + 3);
    EXPECT_NE(service->status().latest().first.invite_url.find("192.168.1.5%3A47474"),
              std::string::npos);
}

TEST_F(ServiceFixture, CodeRotatesOnExpiryAndRequest) {
    const auto code = [&] { return service->status().latest().first.invite_url; };
    const auto first = code();
    now += 599;
    service->tick();
    EXPECT_EQ(code(), first);
    now += 1;
    service->tick();
    const auto second = code();
    EXPECT_NE(second, first);
    service->new_code();
    EXPECT_NE(code(), second);
}

TEST_F(ServiceFixture, DevicesNewestFirst) {
    ASSERT_TRUE(service->authenticate(hello(1, "old", code_auth())).ok());
    now += 10;
    ASSERT_TRUE(service->authenticate(hello(2, "new", code_auth())).ok());
    const auto devices = service->status().latest().first.paired_devices;
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "new");
    EXPECT_EQ(devices[1].name, "old");
}

TEST_F(ServiceFixture, AddressChangesPublish) {
    const auto v6 = [](const char* text, std::uint32_t flow = 0) {
        asio::ip::tcp::endpoint e{asio::ip::make_address(text), 47474};
        reinterpret_cast<sockaddr_in6*>(e.data())->sin6_flowinfo = flow;
        return e;
    };
    const asio::ip::tcp::endpoint a{asio::ip::make_address("192.168.1.5"), 47474};
    const asio::ip::tcp::endpoint b{asio::ip::make_address("10.0.0.2"), 47474};
    const asio::ip::tcp::endpoint a_other_port{a.address(), 47475};
    struct Case {
        std::vector<asio::ip::tcp::endpoint> next;
        bool publishes;
    };
    const Case cases[] = {
        {{a, b}, true},
        {{a, b}, false},
        {{b, a}, true},  // order counts
        {{b}, true},
        {{b, a_other_port}, true},
        {{v6("fe80::1%1")}, true},
        {{v6("fe80::1%1")}, false},
        {{v6("fe80::1%2")}, true},     // scope
        {{v6("fe80::1%2", 7)}, true},  // flow information
        {{}, true},
        {{}, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto before = service->status().latest().second;
        service->set_addresses(cases[i].next);
        EXPECT_EQ(service->status().latest().second != before, cases[i].publishes) << i;
        EXPECT_EQ(service->status().latest().first.addresses, cases[i].next) << i;
    }
}

TEST_F(ServiceFixture, ClaimsAreNumberedFromZeroAndShowTheController) {
    const auto first = service->claim("one", io.get_executor());
    now += 5;
    const auto second = service->claim("two", io.get_executor());
    EXPECT_EQ(first.claim_id, 0u);
    EXPECT_EQ(second.claim_id, 1u);
    service->set_stream(first.claim_id, StreamInfo{1, 1, 1});  // not the controller: ignored
    service->set_stream(second.claim_id, StreamInfo{1280, 720, 30});
    const auto controller = service->status().latest().first.controller;
    ASSERT_TRUE(controller);
    EXPECT_EQ(*controller, (ControllerInfo{"two", now, StreamInfo{1280, 720, 30}}));
}

TEST_F(ServiceFixture, DisconnectWithoutControllerDoesNothing) {
    const auto before = service->status().latest().second;
    service->disconnect();
    service->release(42);
    EXPECT_EQ(service->status().latest().second, before);
}

TEST_F(ServiceFixture, WaitingObserverWakesOnlyForAChange) {
    const auto [status, version] = service->status().latest();
    std::thread observer([&, seen = version] {
        const auto [next, next_version] =
            service->status().wait_changed(seen, std::chrono::hours(1));
        EXPECT_EQ(next_version, seen + 1);
        EXPECT_EQ(next.notice, "changed");
    });
    service->tick();  // nothing visible changed: the observer keeps waiting
    service->set_notice("changed");
    observer.join();
}

TEST(ServiceLoad, FailingLoadStartsEmpty) {
    FakePorts fakes;
    fakes.trust_store->fail_load("unreadable");
    const auto service = HostService::create({}, fakes.ports(), {});
    EXPECT_TRUE(service->status().latest().first.paired_devices.empty());
    EXPECT_EQ(service->status().latest().second, 1u);
}

}  // namespace
}  // namespace mirravale::core
