#include "host/startup.hpp"

#include <sys/resource.h>

#include <cstdlib>

#include "core/log.hpp"
#include "core/service.hpp"
#include "host/headless.hpp"
#include "host/store.hpp"
#include "host/trust_file.hpp"
#include "host/ui/app.hpp"
#include "net/runtime.hpp"
#include "net/server.hpp"
#include "platform-linux/capture.hpp"
#include "platform-linux/computer_name.hpp"
#include "platform-linux/desktop_ports.hpp"
#include "platform-linux/pattern.hpp"

namespace mirravale::host {
namespace {

// A host that runs out of descriptors cannot accept phones; take all the system allows.
void raise_open_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Without an X server there is nothing to capture: a stream request without the test picture is
// answered with a notice instead of a picture.
class UnavailablePipeline final : public core::ScreenPipeline {
  public:
    Result<std::unique_ptr<core::PipelineHandle>> start(const core::StreamPlan&,
                                                        std::shared_ptr<core::FrameGate>,
                                                        core::EventSink) override {
        return fail("Streaming is not available on this computer yet.");
    }
};

std::shared_ptr<core::ScreenPipeline> screen_port(const CommandLine& options,
                                                  const platform::DesktopPorts& desktop) {
    if (options.test_pattern) {
        return std::make_shared<platform::TestPatternPipeline>();
    }
    if (!desktop.has_display) {
        return std::make_shared<UnavailablePipeline>();
    }
    auto capture = std::make_shared<platform::X11ScreenPipeline>();
    capture->prewarm();
    return capture;
}

core::ServiceConfig fixed_config() {
    return core::ServiceConfig{};
}

}  // namespace

std::filesystem::path data_directory(const CommandLine& options) {
    if (options.data_dir) {
        return *options.data_dir;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : ".") / "Library" / "Application Support" /
           "Mirravale";
}

Status run(const CommandLine& options) {
    const std::string name = options.name ? *options.name : platform::computer_name();
    const auto directory = data_directory(options);
    if (auto prepared = prepare_data_directory(directory); !prepared) {
        return prepared;
    }
    auto host_id = load_host_id(directory);
    if (!host_id) {
        return fail(host_id.error());
    }
    auto identity = load_or_create_identity(directory, name);
    if (!identity) {
        return fail(identity.error());
    }

    auto desktop = platform::open_desktop_ports(options.test_pattern);
    core::Ports ports;
    ports.screen = screen_port(options, desktop);
    ports.input = desktop.input;
    ports.displays = desktop.displays;
    ports.permissions = desktop.permissions;
    ports.power = desktop.power;
    ports.trust_store = std::make_shared<TrustFile>(directory / TRUSTED_DEVICES_FILE);

    core::HostIdentity host{name, *host_id, identity->fingerprint()};
    auto service = core::HostService::create(std::move(host), std::move(ports), fixed_config());

    raise_open_file_limit();
    net::Runtime runtime;
    auto network = net::start_network(runtime.context(), service, *identity, options.port);
    if (!network) {
        return fail(network.error());
    }
    if (!options.headless) {
        auto shown = ui::run_desktop({service, desktop.x11_displays, desktop.x11_permissions});
        if (shown) {
            return {};
        }
        log::get("mirravale")->warn("{}; running in the terminal", shown.error());
    }
    run_headless(*service);
    return {};
}

}  // namespace mirravale::host
