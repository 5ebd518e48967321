#pragma once
// A private X server for tests: Xvfb on a display number of its own choosing, optionally split
// into several monitors, with or without access control. Stopped by its process id.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "wire/result.hpp"

namespace mirravale::platform::testing {

struct VirtualMonitor {
    std::string name;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    bool with_output = false;  // takes the server's single output ("screen")
};

struct XvfbOptions {
    int width = 1920;
    int height = 1080;
    std::vector<VirtualMonitor> monitors;  // empty: the server's own single monitor
    std::vector<std::string> arguments;    // more for the server, e.g. {"-extension", "XTEST"}
    bool access_control = false;           // clients need the cookie of authority()
};

class Xvfb {
  public:
    static Result<std::unique_ptr<Xvfb>> start(const XvfbOptions& options);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // ":N"
    const std::string& display() const { return display_; }
    // The cookie file that admits a trusted client; empty without access control.
    const std::string& authority() const { return authority_; }
    // A cookie file that admits an untrusted client (needs access control).
    Result<std::string> untrusted_authority() const;
    // Replaces the monitors of the screen.
    Status set_monitors(const std::vector<VirtualMonitor>& monitors) const;
    // Runs an X tool against this server and waits for it; its output is discarded.
    Status run(const std::vector<std::string>& command) const;

  private:
    Xvfb() = default;
    pid_t pid_ = -1;
    std::string directory_;
    std::string display_;
    std::string authority_;
    mutable std::vector<std::string> monitor_names_;
};

// Sets XAUTHORITY for a scope: X connections opened meanwhile present that cookie file.
class ScopedAuthority {
  public:
    explicit ScopedAuthority(const std::string& file);
    ~ScopedAuthority();

  private:
    bool had_ = false;
    std::string previous_;
};

// The usual test screen: 3840x1080 split into two monitors side by side, "left" at the origin
// holding the output, "right" beside it.
XvfbOptions two_monitors();
struct TwoMonitors {
    static XvfbOptions options() { return two_monitors(); }
};

// One server for all the tests of a suite, laid out by Layout::options(); a test fails when the
// server cannot start.
template <class Layout = TwoMonitors>
class XvfbSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        auto started = Xvfb::start(Layout::options());
        if (started) {
            server_ = std::move(*started);
        } else {
            error_ = started.error();
        }
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_ != nullptr) << error_; }
    static Xvfb& server() { return *server_; }

  private:
    static inline std::unique_ptr<Xvfb> server_;
    static inline std::string error_;
};

using XvfbTest = XvfbSuite<>;

}  // namespace mirravale::platform::testing
