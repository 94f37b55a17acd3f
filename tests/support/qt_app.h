// An application object for the whole test program: the serial port's notifiers
// want one, as kuutil and kuctl have.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

namespace ku::test {

class QtAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "ku-test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QCoreApplication> app_;
};

}  // namespace ku::test
