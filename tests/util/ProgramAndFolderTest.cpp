#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::RecordingUserInterface;
using test::TempDir;

// A tiny program that writes the arguments it received to $OUT, "|"-separated.
std::string writeArgRecorder(const TempDir& dir) {
    const std::string script = dir / "record.sh";
    test::writeFile(script,
                    "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > \"$OUT\"\n");
    ::chmod(script.c_str(), 0755);
    return script;
}

TEST(RunProgram, MissingProgramShowsNotFoundAndStartsNothing) {
    RecordingUserInterface ui;
    TempDir dir;
    EXPECT_FALSE(runProgram("gibtsnicht", {}, dir.path()));
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, TMsgKind::Error);
    EXPECT_EQ(ui.shown[0].text, "Programm \"" + dir.path() + "gibtsnicht\" nicht gefunden.");
}

TEST(RunProgram, HostileArgumentsArePassedVerbatim) {
    RecordingUserInterface ui;
    TempDir dir;
    const std::string script = writeArgRecorder(dir);
    const std::string out = dir / "args.txt";
    const std::string marker = dir / "pwned";
    setenv("OUT", out.c_str(), 1);
    const std::vector<std::string> args{"-rf",
                                        "a b",
                                        "it's \"quoted\"",
                                        "x; touch " + marker,
                                        "$(touch " + marker + ")",
                                        "`touch " + marker + "`",
                                        "| touch " + marker,
                                        "line\nbreak; touch " + marker};
    pid_t pid = -1;
    ASSERT_TRUE(runProgram("record.sh", args, dir.path(), &pid));
    int code = -1;
    EXPECT_EQ(waitProgram(pid, 10000, code), TWaitResult::Exited);
    EXPECT_EQ(code, 0);
    std::string expected;
    for (const auto& a : args) expected += a + "|";
    EXPECT_EQ(test::readFile(out), expected);
    EXPECT_FALSE(test::exists(marker));
    EXPECT_TRUE(ui.shown.empty());
    unsetenv("OUT");
}

TEST(RunProgram, StartFailureGivesGermanReason) {
    RecordingUserInterface ui;
    TempDir dir;
    test::writeFile(dir / "kein-programm", "just text, no interpreter line");
    ::chmod((dir / "kein-programm").c_str(), 0644);
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Spawn ? EACCES : 0; });
    EXPECT_FALSE(runProgram("kein-programm", {}, dir.path()));
    sys::setFaultHook({});
    ASSERT_EQ(ui.shown.size(), 1u);
    const std::string path = dir / "kein-programm";
    EXPECT_EQ(ui.shown[0].text,
              "Programm \"" + path + "\" kann nicht ausgeführt werden.\rWindows-Fehlermeldung:\r" +
                  "Fehler beim gemeinsamen Zugriff auf eine Datei im Netz oder Fehler beim "
                  "Zugriff auf eine gesperrte Datei im Netz.");
    EXPECT_EQ(startFailureText(ENOENT, "/x/y"), "Die Datei \"/x/y\" wurde nicht gefunden.");
    EXPECT_EQ(startFailureText(E2BIG, "/x/y"), "Nicht näher spezifizierter Fehler 7");
}

TEST(IsDirWritable, ProbesWithoutTouchingUserFiles) {
    TempDir dir;
    test::writeFile(dir / "test.file", "keep me");
    EXPECT_TRUE(isDirWritable(dir.path()));
    EXPECT_EQ(test::readFile(dir / "test.file"), "keep me");
    EXPECT_EQ(test::readTree(dir.path()).size(), 1u);  // no probe left behind
    EXPECT_FALSE(isDirWritable(dir / "fehlt/"));
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Open ? EROFS : 0; });
    EXPECT_FALSE(isDirWritable(dir.path()));
    sys::setFaultHook({});
}

TEST(IsSameDrive, ComparesFileSystems) {
    TempDir dir;
    EXPECT_TRUE(isSameDrive(dir / "a/", dir / "noch/nicht/da/"));
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(dir.path().c_str(), &tmp) == 0 &&
        shm.st_dev != tmp.st_dev) {
        EXPECT_FALSE(isSameDrive("/dev/shm/x", dir.path()));
    }
}

}  // namespace
}  // namespace qvb
