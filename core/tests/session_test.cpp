#include "core/tests/session_harness.hpp"

namespace mirravale::core::testing {
namespace {

using wire::client::StreamRequest;

TEST_F(SessionHarness, NoHelloEndsWithoutReply) {
    auto phone = connect();
    EXPECT_TRUE(phone.finished());
    EXPECT_FALSE(phone.next(50ms).has_value());
}

TEST_F(SessionHarness, FirstMessageMustBeHello) {
    auto phone = connect();
    phone.send({wire::client::Ping{1}});
    EXPECT_TRUE(phone.finished());
    EXPECT_FALSE(phone.next(50ms).has_value());
}

TEST_F(SessionHarness, OtherVersionIsRefusedWithoutTheLoginDelay) {
    auto config = quick_config();
    config.refusal_delay = std::chrono::hours(1);
    service = HostService::create({"Studio", {}, {}}, ports(), config);
    auto phone = connect();
    phone.send(hello(1, {wire::HelloAuth::PairingCode{current_code()}}, 2));
    const auto error = phone.next_of<wire::host::Error>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, wire::ErrorCode::VersionMismatch);
    EXPECT_EQ(error->message,
              "Mirravale on your phone and on your Mac are different versions. Update both.");
    EXPECT_TRUE(phone.finished());
}

TEST_F(SessionHarness, WrongCodeIsRefusedAfterTheDelay) {
    auto phone = connect();
    const auto start = std::chrono::steady_clock::now();
    phone.send(hello(1, {wire::HelloAuth::PairingCode{"WRONG"}}));
    const auto error = phone.next_of<wire::host::Error>();
    ASSERT_TRUE(error);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(error->code, wire::ErrorCode::Unauthorized);
    EXPECT_EQ(error->message,
              "That is not this Mac's current code. Scan the code shown in Mirravale on your Mac.");
    EXPECT_TRUE(phone.finished());
    EXPECT_FALSE(service->status().latest().first.controller.has_value());
}

TEST_F(SessionHarness, WelcomeCarriesTokenDisplaysAndPermissions) {
    fakes.displays->set({Display{5, "Side", Rect{1920, 0, 1280.5, 1024.4}, 2561, 2049, false},
                         Display{9, "Main", Rect{0, 0, 1920, 1080}, 100000, 1080, true}});
    fakes.permissions->set(1);
    auto phone = connect();
    phone.send(hello(1, {wire::HelloAuth::PairingCode{current_code()}}));
    const auto welcome = phone.next_of<wire::host::Welcome>();
    ASSERT_TRUE(welcome);
    EXPECT_TRUE(welcome->token.has_value());
    EXPECT_EQ(welcome->host_name, "Studio");
    EXPECT_EQ(welcome->main_display, 9u);
    EXPECT_EQ(welcome->permissions, wire::PermissionSet{1});
    ASSERT_EQ(welcome->displays.size(), 2u);
    EXPECT_EQ(welcome->displays[0], (wire::DisplayEntry{5, "Side", 1281, 1024, 2561, 2049, false}));
    EXPECT_EQ(welcome->displays[1].pixel_width, 65535);

    // The token logs in again without a code and without a new token.
    phone.hang_up();
    ASSERT_TRUE(phone.finished());
    auto again = connect();
    again.send(hello(1, {wire::HelloAuth::Token{*welcome->token}}));
    const auto second = again.next_of<wire::host::Welcome>();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->token.has_value());
}

TEST_F(SessionHarness, SecondPhoneReplacesTheFirst) {
    auto first = logged_in(1);
    auto second = logged_in(2);
    const auto goodbye = first.next_of<wire::host::Goodbye>();
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->reason, wire::GoodbyeReason::Replaced);
    EXPECT_EQ(goodbye->message, "Another device is now controlling this Mac.");
    EXPECT_TRUE(first.finished());
    const auto status = service->status().latest().first;
    ASSERT_TRUE(status.controller);
    EXPECT_EQ(status.controller->device_name, "phone 2");
}

TEST_F(SessionHarness, SilenceTimesOut) {
    auto phone = logged_in();
    const auto goodbye = phone.next_of<wire::host::Goodbye>(4000ms);
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->reason, wire::GoodbyeReason::TimedOut);
    EXPECT_EQ(goodbye->message, "The connection went quiet.");
    EXPECT_TRUE(phone.finished());
    EXPECT_FALSE(service->status().latest().first.controller.has_value());
    EXPECT_EQ(fakes.power->live_guards(), 0);
}

TEST_F(SessionHarness, PingIsAnsweredAndKeepsTheSessionAlive) {
    auto phone = logged_in();
    for (std::uint64_t nonce = 1; nonce <= 5; ++nonce) {
        // The phone's own pace: longer in total than the silence limit, shorter between pings.
        std::this_thread::sleep_for(300ms);
        phone.send({wire::client::Ping{nonce}});
        const auto pong = phone.next_of<wire::host::Pong>();
        ASSERT_TRUE(pong);
        EXPECT_EQ(pong->nonce, nonce);
    }
}

TEST_F(SessionHarness, HeldInputIsReleasedWhenThePhoneLeaves) {
    auto phone = logged_in();
    phone.send({wire::client::Key{0x00, true, wire::Modifiers{wire::Modifiers::SHIFT}}});
    phone.send({wire::client::PointerButton{wire::MouseButton::Left, true, 0}});
    phone.send({wire::client::PointerButton{wire::MouseButton::Right, false, 9}});
    phone.hang_up();
    ASSERT_TRUE(phone.finished());
    const auto events = fakes.input->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(std::get<input::Key>(events[0]).keycode, 0x00);
    EXPECT_EQ(std::get<input::Button>(events[1]).clicks, 1);  // 0 clicks become 1
    EXPECT_EQ(std::get<input::Button>(events[2]).clicks, 3);  // more than 3 become 3
    EXPECT_EQ(fakes.input->releases(), 1);
    EXPECT_EQ(fakes.power->live_guards(), 0);
    EXPECT_FALSE(service->status().latest().first.controller.has_value());
    EXPECT_FALSE(phone.next(50ms).has_value());  // the phone left: no goodbye
}

TEST_F(SessionHarness, PhoneGoodbyeEndsWithoutReply) {
    auto phone = logged_in();
    phone.send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    ASSERT_TRUE(phone.finished());
    EXPECT_EQ(fakes.input->releases(), 1);
    EXPECT_FALSE(phone.next(50ms).has_value());
}

TEST_F(SessionHarness, DisconnectFromTheHost) {
    auto phone = logged_in();
    service->disconnect();
    const auto goodbye = phone.next_of<wire::host::Goodbye>();
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->reason, wire::GoodbyeReason::Normal);
    EXPECT_EQ(goodbye->message, "Disconnected by the Mac.");
    EXPECT_TRUE(phone.finished());
    EXPECT_FALSE(service->status().latest().first.controller.has_value());
}

TEST_F(SessionHarness, ForgottenDeviceIsRevoked) {
    auto phone = logged_in();
    service->forget_all_devices();
    const auto goodbye = phone.next_of<wire::host::Goodbye>();
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->reason, wire::GoodbyeReason::Revoked);
    EXPECT_EQ(goodbye->message, "This Mac forgot your device. Scan its code to pair again.");
}

TEST_F(SessionHarness, GoodbyeDoesNotWaitForeverForAPhoneThatStoppedReading) {
    auto phone = connect(1);
    phone.send(hello(1, {wire::HelloAuth::PairingCode{current_code()}}));
    // The unread Welcome fills the queue of one.
    ASSERT_TRUE(status_when([](const HostStatus& s) {
                    return s.controller.has_value();
                }).controller.has_value());
    service->disconnect();
    EXPECT_TRUE(phone.finished());
    EXPECT_FALSE(service->status().latest().first.controller.has_value());
    EXPECT_EQ(fakes.power->live_guards(), 0);
    EXPECT_TRUE(phone.next_of<wire::host::Welcome>().has_value());
    EXPECT_FALSE(phone.next(50ms).has_value());  // the goodbye never fitted
}

TEST_F(SessionHarness, PermissionChangesAreReported) {
    auto phone = logged_in();
    fakes.permissions->set(2);
    const auto update = phone.next_of<wire::host::Permissions>();
    ASSERT_TRUE(update);
    EXPECT_EQ(update->flags, wire::PermissionSet{2});
}

}  // namespace
}  // namespace mirravale::core::testing
