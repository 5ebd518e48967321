// The network side over loopback with the real TLS stack, the real session and fake ports.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "core/testing/fakes.hpp"
#include "net/runtime.hpp"
#include "net/server.hpp"
#include "tools/phone/client.hpp"

namespace mirravale::net {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct ServerFixture : ::testing::Test {
    core::testing::FakePorts fakes;
    TlsIdentity identity = *TlsIdentity::generate("test host");
    std::shared_ptr<core::HostService> service = make_service();
    Runtime runtime;
    std::uint16_t port = start();

    // Sessions end while the runtime still runs: a session cut off by the runtime's end would
    // leave its kick channel holding a receive of a context already gone.
    ~ServerFixture() override {
        service->disconnect();
        auto [status, version] = service->status().latest();
        for (int i = 0; i < 100 && status.controller; ++i) {
            std::tie(status, version) = service->status().wait_changed(version, 50ms);
        }
    }

    std::shared_ptr<core::HostService> make_service() {
        core::ServiceConfig config;
        config.quiet_timeout = 1500ms;
        return core::HostService::create({"test host", {}, identity.fingerprint()}, fakes.ports(),
                                         config);
    }
    std::uint16_t start() {
        auto started = start_network(runtime.context(), service, identity, 0);
        EXPECT_TRUE(started.ok());
        return started.ok() ? started->port : 0;
    }
    asio::ip::tcp::endpoint address() const { return {asio::ip::make_address("127.0.0.1"), port}; }
    std::string code() const {
        const auto url = service->status().latest().first.invite_url;
        return url.substr(url.find("&c=") + 3, 26);
    }
    std::unique_ptr<phone::Client> connect() {
        auto client = phone::Client::connect({address()}, identity.fingerprint());
        EXPECT_TRUE(client.ok()) << client.error();
        return client.ok() ? std::move(*client) : nullptr;
    }
    static wire::ClientMessage hello(std::uint8_t id, wire::HelloAuth auth) {
        wire::client::Hello h;
        h.version = 1;
        h.device_id[0] = id;
        h.device_name = "phone " + std::to_string(id);
        h.auth = std::move(auth);
        return {h};
    }
    template <class T>
    static std::optional<T> next(phone::Client& client, std::chrono::milliseconds limit = 5000ms) {
        auto message = client.receive_skipping_cursor(limit);
        if (!message)
            return std::nullopt;
        if (auto* t = std::get_if<T>(&message->message))
            return *t;
        return std::nullopt;
    }
};

TEST_F(ServerFixture, PairThenLogInWithTheToken) {
    auto first = connect();
    ASSERT_TRUE(first->send(hello(1, {wire::HelloAuth::PairingCode{code()}})).ok());
    const auto welcome = next<wire::host::Welcome>(*first);
    ASSERT_TRUE(welcome && welcome->token);
    ASSERT_TRUE(first->send({wire::client::Goodbye{}}).ok());
    EXPECT_FALSE(first->receive(3000ms).ok());  // the host closes after the phone's goodbye

    auto again = connect();
    ASSERT_TRUE(again->send(hello(1, {wire::HelloAuth::Token{*welcome->token}})).ok());
    const auto second = next<wire::host::Welcome>(*again);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->token);
    ASSERT_TRUE(again->send({wire::client::Ping{9}}).ok());
    EXPECT_EQ(next<wire::host::Pong>(*again)->nonce, 9u);
}

TEST_F(ServerFixture, SecondPhoneReplacesTheFirst) {
    auto first = connect();
    ASSERT_TRUE(first->send(hello(1, {wire::HelloAuth::PairingCode{code()}})).ok());
    ASSERT_TRUE(next<wire::host::Welcome>(*first));
    auto second = connect();
    ASSERT_TRUE(second->send(hello(2, {wire::HelloAuth::PairingCode{code()}})).ok());
    ASSERT_TRUE(next<wire::host::Welcome>(*second));
    const auto goodbye = next<wire::host::Goodbye>(*first);
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->reason, wire::GoodbyeReason::Replaced);
    EXPECT_EQ(goodbye->message, "Another device is now controlling this Mac.");
    EXPECT_FALSE(first->receive(3000ms).ok());
}

TEST_F(ServerFixture, WrongCodeAfterTheDelayAndSilentPhoneTimesOut) {
    auto wrong = connect();
    auto silent = connect();
    ASSERT_TRUE(silent->send(hello(2, {wire::HelloAuth::PairingCode{code()}})).ok());
    const auto start = Clock::now();
    ASSERT_TRUE(wrong->send(hello(1, {wire::HelloAuth::PairingCode{"0000"}})).ok());
    const auto error = next<wire::host::Error>(*wrong);
    ASSERT_TRUE(error);
    EXPECT_GE(Clock::now() - start, 400ms);
    EXPECT_EQ(error->code, wire::ErrorCode::Unauthorized);

    ASSERT_TRUE(next<wire::host::Welcome>(*silent));
    const auto goodbye = next<wire::host::Goodbye>(*silent);
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->reason, wire::GoodbyeReason::TimedOut);
    EXPECT_EQ(goodbye->message, "The connection went quiet.");
}

TEST_F(ServerFixture, BadFrameLengthsCloseOnlyThatConnection) {
    auto good = connect();
    ASSERT_TRUE(good->send(hello(1, {wire::HelloAuth::PairingCode{code()}})).ok());
    ASSERT_TRUE(next<wire::host::Welcome>(*good));
    for (const std::vector<std::uint8_t>& prefix :
         {std::vector<std::uint8_t>{0, 0, 0, 0}, std::vector<std::uint8_t>{0x01, 0, 0, 1}}) {
        auto bad = connect();
        ASSERT_TRUE(bad->send_bytes(prefix).ok());
        EXPECT_FALSE(bad->receive(3000ms).ok());
    }
    ASSERT_TRUE(good->send({wire::client::Ping{5}}).ok());
    EXPECT_EQ(next<wire::host::Pong>(*good)->nonce, 5u);
}

TEST_F(ServerFixture, ForeignClientsFailTheHandshake) {
    // A wrong pin is refused by the phone itself.
    auto other = TlsIdentity::generate("other");
    EXPECT_FALSE(phone::Client::connect({address()}, other->fingerprint()).ok());

    asio::io_context io;
    for (const auto& [version, alpn] : {std::pair{TLS1_2_VERSION, std::string("\x0bmirravale/1")},
                                        std::pair{TLS1_3_VERSION, std::string("\x02h2")}}) {
        asio::ssl::context context(asio::ssl::context::tls_client);
        SSL_CTX_set_max_proto_version(context.native_handle(), version);
        asio::ssl::stream<asio::ip::tcp::socket> stream(io, context);
        SSL_set_alpn_protos(stream.native_handle(),
                            reinterpret_cast<const unsigned char*>(alpn.data()),
                            static_cast<unsigned>(alpn.size()));
        stream.lowest_layer().connect(address());
        asio::error_code ec;
        stream.handshake(asio::ssl::stream_base::client, ec);
        EXPECT_TRUE(ec) << "version " << version;
    }
}

TEST(Connection, IdleClientIsDroppedAtTheHandshakeLimit) {
    core::testing::FakePorts fakes;
    auto identity = *TlsIdentity::generate("idle");
    auto service = core::HostService::create({}, fakes.ports(), {});
    Runtime runtime(1);
    asio::ip::tcp::acceptor acceptor(runtime.context(), {asio::ip::make_address("127.0.0.1"), 0});
    auto tls = *identity.server_config();
    acceptor.async_accept([&](asio::error_code ec, asio::ip::tcp::socket socket) {
        ASSERT_FALSE(ec);
        asio::co_spawn(runtime.context(), serve_connection(std::move(socket), tls, service, 300ms),
                       asio::detached);
    });
    asio::io_context io;
    asio::ip::tcp::socket client(io);
    const auto start = Clock::now();
    client.connect(acceptor.local_endpoint());
    std::array<char, 1> byte{};
    asio::error_code ec;
    asio::read(client, asio::buffer(byte), ec);
    EXPECT_TRUE(ec);  // closed by the host
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST(Listener, PortFallback) {
    asio::io_context io;
    auto first = bind_listener(io, 47800);
    ASSERT_TRUE(first.ok()) << first.error();
    auto second = bind_listener(io, 47800);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->local_endpoint().port(), 47801);
    auto top = bind_listener(io, 65535);  // nothing to try: the system chooses
    ASSERT_TRUE(top.ok());
    EXPECT_NE(top->local_endpoint().port(), 0);
}

}  // namespace
}  // namespace mirravale::net
