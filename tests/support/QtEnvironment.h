// One QApplication for a whole test program, on the main thread and on Qt's
// offscreen platform unless another is chosen, torn down before the
// process's static objects. Register it once per program:
//     ::testing::Environment* const qt =
//         ::testing::AddGlobalTestEnvironment(new morvia::test::QtEnvironment("name_tests"));
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <string>

namespace morvia::test {

class QtEnvironment : public ::testing::Environment {
public:
    explicit QtEnvironment(std::string programName) : name_(std::move(programName)) {}
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        argv_[0] = name_.data();
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    std::string name_;
    int argc_ = 1;  // QApplication keeps references to both
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<QApplication> app_;
};

}  // namespace morvia::test
