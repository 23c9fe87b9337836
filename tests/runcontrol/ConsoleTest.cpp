// The pieces of a run without a window: protocol file, progress line, line
// output and the cancel signals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "runcontrol/CancelSignals.h"
#include "runcontrol/ConsoleOutput.h"
#include "runcontrol/ProgressDisplay.h"
#include "runcontrol/Protocol.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::readFile;
using test::readTree;
using test::TempDir;

struct Pipe {
    int fds[2]{-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fds, O_NONBLOCK), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    std::string drain() {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
        return out;
    }
};

TEST(Protocol, KeepsEveryLineAndHandsEachToTheSink) {
    TProtocol protocol;
    std::vector<std::string> seen;
    protocol.append("vorher");
    protocol.setSink([&](const std::string& line) { seen.push_back(line); });
    protocol.appendText("eins\r\nzwei\rdrei\n");
    protocol.append("Name\nmit\tTab");  // a name never makes a line of its own
    EXPECT_EQ(protocol.lines(), (std::vector<std::string>{"vorher", "eins", "zwei", "drei", "",
                                                          "Name\\x0Amit\\x09Tab"}));
    EXPECT_EQ(seen, (std::vector<std::string>{"eins", "zwei", "drei", "", "Name\\x0Amit\\x09Tab"}));
}

TEST(Protocol, SaveReplacesTheFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir / "QV_Backup.log";
    test::writeFile(path, "alter Inhalt\n");
    TProtocol protocol;
    protocol.append(" ");
    protocol.append("Lauf ä");
    ASSERT_TRUE(protocol.saveToFile(path));
    EXPECT_EQ(readFile(path), " \nLauf ä\n");
    EXPECT_EQ(readTree(dir.path()).size(), 1u);
}

TEST(Protocol, FailedSaveKeepsTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir / "QV_Backup.log";
    test::writeFile(path, "alter Inhalt\n");
    TProtocol protocol;
    protocol.append(std::string(100000, 'x'));
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Write ? ENOSPC : 0; });
    const bool saved = protocol.saveToFile(path);
    sys::setFaultHook({});
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile(path), "alter Inhalt\n");
    EXPECT_EQ(readTree(dir.path()).size(), 1u);
}

TEST(ProgressDisplay, LineIsSafeForTheTerminalAndFitsItsWidth) {
    EXPECT_EQ(TProgressDisplay::formatLine(42, " bearbeite Datei 3 von 9...", "kopiere a.txt", 80),
              "[ 42%] bearbeite Datei 3 von 9... | kopiere a.txt");
    EXPECT_EQ(TProgressDisplay::formatLine(7, "", "a\nb\x1b[2Jc", 80), "[  7%] | a?b?[2Jc");
    EXPECT_EQ(TProgressDisplay::formatLine(100, "x", "\xff\xc3\xa4", 80),
              "[100%] x | \xEF\xBF\xBDä");
    // Cut by characters, never inside a UTF-8 sequence.
    EXPECT_EQ(TProgressDisplay::formatLine(5, "äöü", "", 9), "[  5%] äö");
}

TEST(ProgressDisplay, RedrawsAtMostTenTimesASecondAndErasesBeforeOtherOutput) {
    Pipe pipe;
    int64_t now = 1000;
    {
        TProgressDisplay display(pipe.fds[1], true, [&] { return now; });
        display.update(1, "a", "");
        now = 1050;
        display.update(2, "b", "");
        now = 1099;
        display.update(3, "c", "");
        std::string out = pipe.drain();
        EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 1);
        EXPECT_NE(out.find("[  1%] a"), std::string::npos);
        now = 1100;
        display.update(4, "d", "");
        out = pipe.drain();
        EXPECT_NE(out.find("[  4%] d"), std::string::npos);
        display.clear();
        EXPECT_EQ(pipe.drain(), "\r\x1b[K");
        display.clear();
        EXPECT_EQ(pipe.drain(), "");
        now = 1300;
        display.update(5, "e", "");
        pipe.drain();
    }
    EXPECT_EQ(pipe.drain(), "\r\x1b[K") << "the line is erased when the display goes";
}

TEST(ProgressDisplay, DisabledDisplayWritesNothing) {
    Pipe pipe;
    {
        TProgressDisplay display(pipe.fds[1], false, [] { return int64_t{0}; });
        display.update(50, "x", "y");
        display.clear();
    }
    EXPECT_EQ(pipe.drain(), "");
}

TEST(LineOutput, WritesWholeLinesAndClearsTheProgressLineFirst) {
    Pipe out, err;
    int64_t now = 0;
    TProgressDisplay display(err.fds[1], true, [&] { return now; });
    TLineOutput output(out.fds[1], &display);
    display.update(10, "a", "");
    err.drain();
    output.writeLine("erste Zeile");
    output.writeLine("");
    EXPECT_EQ(out.drain(), "erste Zeile\n\n");
    EXPECT_EQ(err.drain(), "\r\x1b[K");
}

TEST(LineOutput, ClosedReaderDoesNotStopTheProgram) {
    installCancelSignals();  // ignores SIGPIPE
    Pipe out;
    ::close(out.fds[0]);
    out.fds[0] = -1;
    TLineOutput output(out.fds[1]);
    output.writeLine("niemand liest");
    output.writeLine("noch eine");
    SUCCEED();
}

TEST(LineOutput, BufferedLinesLeaveAfterAPauseOnFlushAndAtTheEnd) {
    Pipe out, err;
    int64_t now = 1000;
    TProgressDisplay display(err.fds[1], true, [&] { return now; });
    {
        TLineOutput output(out.fds[1], &display);
        output.setBuffered(true, [&] { return now; });
        display.update(10, "a", "");
        err.drain();
        output.writeLine("eins");
        output.writeLine("zwei");
        now += 99;
        output.flushIfDue();
        EXPECT_EQ(out.drain(), "");
        EXPECT_EQ(err.drain(), "") << "the progress line stays until lines are written";
        now += 1;
        output.flushIfDue();
        EXPECT_EQ(out.drain(), "eins\nzwei\n");
        EXPECT_EQ(err.drain(), "\r\x1b[K");
        now += 500;
        output.writeLine("nach einer Pause");
        EXPECT_EQ(out.drain(), "nach einer Pause\n") << "a line after a quiet time leaves at once";
        output.writeLine("drei");
        output.flush();
        EXPECT_EQ(out.drain(), "drei\n");
        output.writeLine("vier");
        EXPECT_EQ(out.drain(), "");
    }
    EXPECT_EQ(out.drain(), "vier\n");
}

TEST(LineOutput, BufferedLinesLeaveOnceEnoughHaveGathered) {
    Pipe out;
    ASSERT_GE(::fcntl(out.fds[1], F_SETPIPE_SZ, 1 << 20), 1 << 17);
    TLineOutput output(out.fds[1]);
    output.setBuffered(true, [] { return int64_t{0}; });
    const std::string line(1023, 'x');
    for (int i = 0; i < 63; ++i) output.writeLine(line);
    EXPECT_EQ(out.drain(), "");
    output.writeLine(line);
    EXPECT_EQ(out.drain().size(), 64u * 1024);
}

TEST(CancelSignals, InterruptAndTerminateAreNotedNotFatal) {
    installCancelSignals();
    clearCancelRequest();
    EXPECT_FALSE(cancelRequested());
    std::raise(SIGINT);
    EXPECT_TRUE(cancelRequested());
    clearCancelRequest();
    std::raise(SIGTERM);
    EXPECT_TRUE(cancelRequested());
    clearCancelRequest();
}

}  // namespace
}  // namespace qvb
