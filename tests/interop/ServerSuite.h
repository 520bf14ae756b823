// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "InteropProcess.h"
#include "InteropServers.h"
#include "support/TempDir.h"

namespace vantor::interop {

// A test suite whose tests share servers started once, in a directory of
// the suite's own that the servers' users may enter. `Suite` provides
//   static void StartServers(const std::string& dir);  // may throw
//   static void StopServers();
//   static void ShowServerLogs();  // after a failed test
// A failed start fails every test of the suite with its reason.
template <typename Suite>
class ServerSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            Suite::StartServers(s_dir->path());
        });
    }
    static void TearDownTestSuite() {
        Suite::StopServers();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure()) {
            Suite::ShowServerLogs();
        }
    }

private:
    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
};

}  // namespace vantor::interop
