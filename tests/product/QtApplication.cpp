// One application object for the whole test binary: pointers and pixmaps
// need it, and so do the event loops a run waits in.

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <memory>

namespace {

class QtApplication final : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QGuiApplication>(argc_, argv_);
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[14] = "product_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> application_;
};

[[maybe_unused]] const auto* const Registered = ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
