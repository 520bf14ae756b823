// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "app/AppPaths.h"
#include "support/TempDir.h"

namespace vantor::app {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(GetAppPath, MissingFileSectionKeyOrEmptyValueGiveParentDirectory) {
    TempDir dir;
    EXPECT_EQ(GetAppPath(dir.file("none.conf")), "..");

    WriteFile(dir.file("other.conf"), "[Other]\nAppPath=/srv/x\n");
    EXPECT_EQ(GetAppPath(dir.file("other.conf")), "..");

    WriteFile(dir.file("empty.conf"), "[Settings]\nAppPath=\n");
    EXPECT_EQ(GetAppPath(dir.file("empty.conf")), "..");
}

TEST(GetAppPath, ReadsValueCaseInsensitivelyAndDropsTrailingSlash) {
    TempDir dir;
    WriteFile(dir.file("a.conf"), "[settings]\r\nappPATH = /opt/vantor lite/ \r\n");
    EXPECT_EQ(GetAppPath(dir.file("a.conf")), "/opt/vantor lite");
}

TEST(GetAppPath, UnreadableFileGivesEmptyPath) {
    TempDir dir;
    // A directory in place of the file cannot be read, even by root.
    ASSERT_EQ(::mkdir(dir.file("VantorLite.conf").c_str(), 0700), 0);
    EXPECT_EQ(GetAppPath(dir.file("VantorLite.conf")), "");
}

TEST(LocateApplication, AnInstalledProgramKeepsItsFilesUnderXdgDataHome) {
    test::TempDir dir;
    const std::string noConfig = dir.file("none.conf");
    // Configured: as configured, read-only files included.
    test::WriteFile(dir.file("user.conf"), "[Settings]\nAppPath=/opt/vantor\n");
    const AppLocation configured =
        LocateApplication(dir.file("user.conf"), dir.file("usr/bin/vantor-lite"));
    EXPECT_EQ(configured.appPath, "/opt/vantor");
    EXPECT_EQ(configured.dataPath, "/opt/vantor");
    // A build tree: ".." as ever.
    ::mkdir(dir.file("build").c_str(), 0755);
    test::WriteFile(dir.file("build/CMakeCache.txt"), "");
    const AppLocation built = LocateApplication(noConfig, dir.file("build/bin/vantor-lite"));
    EXPECT_EQ(built.appPath, "..");
    // Installed: under XDG_DATA_HOME (made), the rest beside bin/.
    ::setenv("XDG_DATA_HOME", dir.file("home/data").c_str(), 1);
    const AppLocation installed = LocateApplication(noConfig, dir.file("usr/bin/vantor-lite"));
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(installed.appPath, dir.file("home/data/vantor-lite"));
    EXPECT_EQ(installed.dataPath, dir.file("usr/share/vantor-lite"));
    struct stat st {};
    ASSERT_EQ(::stat(installed.appPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const AppPaths paths(installed);
    EXPECT_EQ(paths.helpFilePath(), dir.file("usr/share/vantor-lite/help/VantorLite.hlp"));
    EXPECT_EQ(paths.confDirPath(), dir.file("home/data/vantor-lite/conf/"));
}

// The folders on the way to the application directory hold its logs and
// passwords: this user's only, whatever the umask would have allowed.
TEST(LocateApplication, TheFoldersItMakesAreTheUsersOnlyWhateverTheUmask) {
    test::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("home").c_str(), 0755), 0);
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    ::setenv("HOME", dir.file("home").c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    const mode_t savedMask = ::umask(0);
    const AppLocation installed =
        LocateApplication(dir.file("none.conf"), dir.file("usr/bin/vantor-lite"));
    ::umask(savedMask);
    ::setenv("HOME", savedHome.c_str(), 1);
    EXPECT_EQ(installed.appPath, dir.file("home/.local/share/vantor-lite"));
    EXPECT_EQ(installed.refusal, "");
    for (const char* made : {"home/.local", "home/.local/share", "home/.local/share/vantor-lite"}) {
        struct stat st {};
        ASSERT_EQ(::stat(dir.file(made).c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("home").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u) << "what was there stays as it was";
}

TEST(AppPaths, DerivedPathsFollowTheApplicationDirectory) {
    AppPaths paths("..");
    EXPECT_EQ(paths.confDirPath(), "../conf/");
    EXPECT_EQ(paths.logDirPath(), "../log/");
    EXPECT_EQ(paths.serviceFilePath(), "../conf/service.xml");
    EXPECT_EQ(paths.helpFilePath(), "../help/VantorLite.hlp");
    EXPECT_EQ(paths.binDirPath(), "../bin/");
}

TEST(AppPaths, ChecksCreateOneLevelAndRememberWhatTheyFound) {
    TempDir dir;
    AppPaths paths(dir.path());
    EXPECT_EQ(paths.logDir(), "");
    EXPECT_EQ(paths.settingsFile(), "");

    EXPECT_TRUE(paths.CheckLogDir());
    EXPECT_TRUE(paths.CheckConfDir());
    EXPECT_TRUE(test::FileExists(dir.file("log")));
    EXPECT_EQ(paths.logDir(), dir.path() + "/log/");
    EXPECT_EQ(paths.settingsFile(), dir.path() + "/conf/SysInit.ini");

    struct stat st {};
    ASSERT_EQ(::stat(dir.file("conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "conf holds passwords";
    ASSERT_EQ(::stat(dir.file("log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the logs name hosts and failures";

    AppPaths deep(dir.path() + "/missing/parent");
    EXPECT_FALSE(deep.CheckLogDir());
    EXPECT_FALSE(deep.CheckConfDir());
    EXPECT_EQ(deep.logDir(), "");
}

TEST(AppPaths, HelpFileIsFoundOnlyWhenItExists) {
    TempDir dir;
    AppPaths paths(dir.path());
    EXPECT_FALSE(paths.CheckHelpFile());
    EXPECT_EQ(paths.helpFile(), "");
    ASSERT_EQ(::mkdir(dir.file("help").c_str(), 0755), 0);
    WriteFile(dir.file("help/VantorLite.hlp"), "<html></html>");
    EXPECT_TRUE(paths.CheckHelpFile());
    EXPECT_EQ(paths.helpFile(), dir.path() + "/help/VantorLite.hlp");
}

}  // namespace
}  // namespace vantor::app
