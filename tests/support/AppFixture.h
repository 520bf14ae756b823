// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/SystemLog.h"
#include "support/MockClock.h"
#include "support/RecordingReporter.h"
#include "support/TempDir.h"

namespace vantor::test {

// An application directory in a temporary folder with its log and conf
// directories made, a settings record, a test clock at 2026-12-08 14:00:00
// and a reporter that records boxes.
class AppFixture : public ::testing::Test {
protected:
    AppFixture() : paths(dir.path()), log(paths, settings, clock, reporter) {
        paths.CheckLogDir();
        paths.CheckConfDir();
        settings.backupFilenamePath = paths.logDirPath();
    }

    std::string logFile(const std::string& date) const {
        return paths.logDirPath() + "system_" + date + ".log";
    }

    TempDir dir;
    app::AppPaths paths;
    app::AppSettings settings;
    MockClock clock;
    RecordingReporter reporter;
    app::SystemLog log;
};

}  // namespace vantor::test
