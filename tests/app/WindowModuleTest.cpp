// The window's libraries come in only with the window: a run from the command
// line maps none of them (nor, listing the jobs, those of D-Bus), and a
// program without its window module still runs its command line and says in
// German why no window opens (and runs without its D-Bus module as without a
// bus).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using Env = std::map<std::string, std::string>;

const std::vector<std::string> kWindowLibraries{"libQt6Widgets", "libQt6Gui", "libQt6Network",
                                                "libxcb",        "libjpeg",   "qvb_window"};
// Loaded only by what talks to the desktop.
const std::vector<std::string> kDesktopBusLibraries{"libQt6DBus", "libdbus-1", "qvb_desktopbus"};

std::string readMaps(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string job(int number, const std::string& folder) {
    const std::string key = "Job" + std::to_string(number);
    std::string text = "[" + key + "]\nName=" + key + "\nZiel=" + folder + "ziel/\n";
    text += "AnzahlQuellen=1\nQuelle0=" + folder + "quelle/=1\n";
    return text + "NurVerzeichnisInhalt=1\nIntervall=0\nAktiv=1\n";
}

class WindowModule : public ::testing::Test {
  protected:
    // No display either: a window that did open would never end.
    Env environment() const {
        return {{"XDG_CONFIG_HOME", dir / "config"},
                {"XDG_DATA_HOME", dir / "data"},
                {"HOME", dir / "home"},
                {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},
                {"QT_QPA_PLATFORM", ""}};
    }

    // Runs the program and looks at its memory once the first output has
    // arrived; `args` must keep it busy until then.
    std::string mapsWhileRunning(const std::vector<std::string>& args, const Env& env) {
        std::string maps;
        const auto r = test::runProgram(args, env, [&](pid_t pid, const std::string&) {
            if (maps.empty()) maps = readMaps(pid);
        });
        EXPECT_EQ(r.exitCode, 0) << r.err;
        // The program's own mapping proves that it still ran when looked at.
        EXPECT_NE(maps.find(std::filesystem::path(QVB_BINARY).filename().string()),
                  std::string::npos)
            << maps;
        return maps;
    }

    static void expectNone(const std::vector<std::string>& libraries, const std::string& maps) {
        for (const std::string& library : libraries)
            EXPECT_TRUE(maps.find(library) == std::string::npos) << library << " is mapped";
    }

    // The executable alone in a folder of its own: no module beside it and
    // none in a library folder next to that.
    std::string lonelyCopy() const {
        const std::string copy = dir / "allein/bin/QV_Backup";
        std::filesystem::create_directories(dir / "allein/bin");
        std::filesystem::copy_file(QVB_BINARY, copy);
        return copy;
    }

    test::TempDir dir{"qvb-module"};
    const std::string ini = dir / "einstellungen.ini";
};

TEST_F(WindowModule, TheCommandLineMapsNoWindowLibrary) {
    // The listing is far larger than a pipe holds, so the program is still
    // writing when its first part arrives.
    std::string jobs = "[Options]\nLogLevel=1\n";
    const std::string deep = dir / std::string(200, 'o') + "/";
    for (int i = 1; i <= 2000; ++i) jobs += job(i, deep);
    test::writeFile(ini, jobs);
    const std::string maps = mapsWhileRunning({"--ini", ini, "--list"}, environment());
    expectNone(kWindowLibraries, maps);
    expectNone(kDesktopBusLibraries, maps);

    // A run whose one large copy is slowed down lasts long enough to be seen.
    test::writeFile(ini, "[Options]\nLogLevel=1\n" + job(1, dir.path()));
    test::writeFile(dir / "quelle/gross.bin", std::string(24 << 20, 'x'));
    Env env = environment();
    env["LD_PRELOAD"] = QVB_SLOWCOPY;
    const char* asan = std::getenv("ASAN_OPTIONS");
    env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    expectNone(kWindowLibraries, mapsWhileRunning({"--ini", ini, "--run", "Job1"}, env));
}

TEST_F(WindowModule, WithoutItsModuleTheProgramSaysWhyAndKeepsItsCommandLine) {
    const std::string copy = lonelyCopy();
    auto r = test::runCommand({copy}, environment());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind("QV_Backup: Das Fenster kann nicht geöffnet werden: ", 0), 0u) << r.err;
    // Where an install keeps it.
    EXPECT_NE(r.err.find("/lib/QV_Backup/qvb_window.so"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

    // A broken module beside the program is the one reported.
    test::writeFile(dir / "allein/bin/qvb_window.so", "kein Modul");
    r = test::runCommand({copy}, environment());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(dir / "allein/bin/qvb_window.so"), std::string::npos) << r.err;

    test::writeFile(ini, "[Options]\nLogLevel=4\n" + job(1, dir.path()));
    r = test::runCommand({copy, "--ini", ini, "--list"}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Job1\tJob1\t", 0), 0u) << r.out;

    // Nor is the D-Bus module there: a run that writes goes on without the
    // inhibitor, a trace line says why.
    test::writeFile(dir / "quelle/a.txt", "A");
    r = test::runCommand({copy, "--ini", ini, "--run", "Job1"}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Der Ruhezustand wird nicht verhindert: das D-Bus-Modul lässt sich "
                         "nicht laden ("),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::readFile(dir / "ziel/a.txt"), "A");
}

}  // namespace
}  // namespace qvb
