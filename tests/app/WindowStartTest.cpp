#include <gtest/gtest.h>

#include "app/ProgramRun.h"
#include "support/TempDir.h"

namespace qvb::test {
namespace {

const char* const kNoDisplayLine =
    "QV_Backup: Keine Anzeige erreichbar, das Fenster kann nicht geöffnet werden (ohne Fenster: "
    "QV_Backup --help)\n";

// The program's environment without any way to a display, in a sandbox of its
// own so that a window that did open would not touch the user's settings.
class WindowStart : public ::testing::Test {
  protected:
    std::map<std::string, std::string> environment(
        std::map<std::string, std::string> display) const {
        std::map<std::string, std::string> env{{"DISPLAY", ""},
                                               {"WAYLAND_DISPLAY", ""},
                                               {"QT_QPA_PLATFORM", ""},
                                               {"XDG_RUNTIME_DIR", runtime.path()},
                                               {"XDG_CONFIG_HOME", dir / ""},
                                               {"XDG_DATA_HOME", dir / ""},
                                               {"HOME", dir / ""}};
        for (const auto& [name, value] : display) env[name] = value;
        return env;
    }

    void expectRefused(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& display) {
        const ProgramResult r = runProgram(args, environment(display));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, kNoDisplayLine);
        EXPECT_EQ(r.out, "");
    }

    TempDir dir{"qvb-window"};
    TempDir runtime{"qvb-runtime"};
};

TEST_F(WindowStart, WithoutAReachableDisplayItSaysSoInGermanAndEndsWithUsageStatus) {
    expectRefused({}, {});
    expectRefused({"--ini", dir / "QV_Backup.ini"}, {});
    // Set, but nobody listens there.
    expectRefused({}, {{"DISPLAY", ":4711"}});
    expectRefused({}, {{"DISPLAY", ":4711"}, {"QT_QPA_PLATFORM", "xcb"}});
    expectRefused({}, {{"WAYLAND_DISPLAY", "wayland-4711"}});
    expectRefused({}, {{"WAYLAND_DISPLAY", "wayland-4711"}, {"QT_QPA_PLATFORM", "wayland;xcb"}});
}

TEST_F(WindowStart, WithADisplayTheWindowStaysOpen) {
    // "timeout" ends the program after three seconds and then reports 124.
    const ProgramResult r = runCommand({"/usr/bin/timeout", "3", QVB_BINARY},
                                       environment({{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_EQ(r.exitCode, 124) << r.err;
    EXPECT_EQ(r.err.find("Keine Anzeige"), std::string::npos);
}

}  // namespace
}  // namespace qvb::test
