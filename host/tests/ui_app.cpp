#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

// Ends the tests' Qt application after the last test, while Qt's own globals still live.
class QtApplicationEnd final : public ::testing::Environment {
  public:
    void TearDown() override { delete QCoreApplication::instance(); }
};

[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnd);

}  // namespace
