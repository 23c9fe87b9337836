// The session on a private session bus with the tests' own stand-ins for the
// notification service and logind (the bus serves as the system bus too):
// which runs hold the inhibitor, which runs and overdue jobs are told, and
// what a click on a notification opens.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "platform/DataFolder.h"
#include "session/NoticeWaiter.h"
#include "session/Session.h"
#include "support/SettingsSandbox.h"
#include "support/TempDir.h"
#include "support/Tree.h"

extern char** environ;

namespace qvb {
namespace {

// A child whose standard output is read line by line and whose standard
// input the test writes.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int out[2];
        int in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&fPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) fPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(in[0]);
        fOut = out[0];
        fIn = in[1];
    }
    ~Child() {
        stop();
        if (fOut >= 0) ::close(fOut);
        if (fIn >= 0) ::close(fIn);
    }
    void write(const std::string& line) {
        const std::string text = line + '\n';
        ASSERT_EQ(::write(fIn, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void stop() {
        if (fPid <= 0) return;
        ::kill(fPid, SIGTERM);
        ::waitpid(fPid, nullptr, 0);
        fPid = -1;
    }
    // The next line, empty after five seconds without one.
    std::string line() {
        for (;;) {
            if (const size_t end = fBuffer.find('\n'); end != std::string::npos) {
                std::string text = fBuffer.substr(0, end);
                fBuffer.erase(0, end + 1);
                return text;
            }
            pollfd p{fOut, POLLIN, 0};
            char chunk[512];
            const ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::read(fOut, chunk, sizeof chunk) : 0;
            if (n <= 0) return {};
            fBuffer.append(chunk, static_cast<size_t>(n));
        }
    }
    // Whether a line came within a short while.
    bool quiet() {
        if (!fBuffer.empty()) return false;
        pollfd p{fOut, POLLIN, 0};
        return ::poll(&p, 1, 300) == 0;
    }

  private:
    pid_t fPid = -1;
    int fOut = -1;
    int fIn = -1;
    std::string fBuffer;
};

// One bus for all cases: Qt keeps its first connection to the session bus.
class DesktopNotice : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_session";
        static char* argv[] = {name, nullptr};
        // Signals arrive through the event loop. Kept to the end: Qt's own
        // globals are gone before static objects of the test would be.
        if (!QCoreApplication::instance()) sApp = new QCoreApplication(argc, argv);
        sBus = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/dbus-daemon", "--session",
                                                                "--nofork", "--print-address=1"});
        const std::string address = sBus->line();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("QVB_DESKTOPBUS_MODULE", QVB_DESKTOPBUS, 1);
    }
    static void TearDownTestSuite() { sBus.reset(); }
    void SetUp() override { startServices({}); }
    void TearDown() override { fServices.reset(); }

    void startServices(const std::string& option) {
        fServices.reset();
        std::vector<std::string> args{QVB_BUS_STANDIN};
        if (!option.empty()) args.push_back(option);
        fServices = std::make_unique<Child>(args);
        ASSERT_EQ(fServices->line(), "bereit");
    }

    // A job that copies and one whose source is missing, in `dir`/qvb.ini;
    // their destination is there already.
    std::string makeJobs() {
        ::mkdir((dir / "quelle").c_str(), 0700);
        ::mkdir((dir / "ziel").c_str(), 0700);
        test::buildTree(dir / "quelle/", {test::file("a.txt", "eins")});
        const std::string ini = dir / "qvb.ini";
        setProgramIniFile(ini);
        TQV_BackupOptions options;
        options.LogLevel = 4;
        TCopyJobList list(&options);
        for (const std::string source : {"quelle/", "fehlt/"}) {
            auto job = std::make_unique<TCopyJob>();
            job->fJobName = source == "quelle/" ? "Gut" : "Kaputt";
            job->fSources = {makeSourceEntry(dir / source, true)};
            job->setDestination(dir / "ziel/");
            list.add(std::move(job));
        }
        EXPECT_TRUE(list.saveJobsAndOptions());
        return ini;
    }

    test::SettingsSandbox sandbox;
    test::TempDir dir;
    static inline QCoreApplication* sApp = nullptr;
    static inline std::unique_ptr<Child> sBus;
    std::unique_ptr<Child> fServices;
};

TEST_F(DesktopNotice, RunsNobodyWatchedAreToldAndRunsThatWriteKeepTheComputerAwake) {
    const std::string ini = makeJobs();
    TSession session(ini);
    ASSERT_EQ(session.open(), "");
    TCopyJob& good = session.jobs().getJob(0);
    TCopyJob& broken = session.jobs().getJob(1);
    const std::vector<std::string> inhibit{"Inhibit\tsleep\tQV_Backup\tSicherung läuft\tblock",
                                           "Freigegeben"};
    // Only a run that changes its destination holds the inhibitor: the
    // broken job writes nothing, the good job's second run has nothing to do.
    const struct {
        TCopyJob* job;
        TRunKind kind;
        TAnswers answers;
        bool byHand;
        std::vector<std::string> lines;
    } runs[] = {
        {&broken,
         TRunKind::Backup,
         TAnswers::Unattended,
         false,
         {"Notify\tQV_Backup\tde.nerk.QV_Backup\tSicherung mit Fehlern\tBackup-Job02 \"Kaputt\" "
          "wurde wegen Fehler(n) abgebrochen."}},
        {&broken, TRunKind::Backup, TAnswers::Unattended, true, {}},
        {&good, TRunKind::Preview, TAnswers::Unattended, false, {}},
        {&good, TRunKind::Backup, TAnswers::User, false, inhibit},
        {&good, TRunKind::Backup, TAnswers::Unattended, false, {}},
    };
    for (const auto& run : runs) {
        session.setRunsByHand(run.byHand);
        session.runJob(*run.job, run.kind, run.answers);
        for (const std::string& expected : run.lines) EXPECT_EQ(fServices->line(), expected);
        EXPECT_TRUE(fServices->quiet()) << run.job->fJobName << " " << run.byHand;
    }
    // A restore writes as well, its preview does not.
    for (const bool preview : {false, true}) {
        session.restore(good, "", {}, preview, {});
        for (const std::string& expected : preview ? std::vector<std::string>{} : inhibit)
            EXPECT_EQ(fServices->line(), expected);
        EXPECT_TRUE(fServices->quiet()) << preview;
    }

    // Overdue: told once a day by whichever process of these settings comes
    // first (the window, a background run, a window opened later), again the
    // next day; a background run leaves out the jobs it ran itself.
    TSession other(ini);
    ASSERT_EQ(other.open(), "");
    for (TSession* s : {&session, &other}) {
        TCopyJob& job = s->jobs().getJob(0);
        job.setInterval(kIntervalDaily);
        job.fActive = true;
        job.fLastCleanRun = good.fLastCleanRun;
    }
    const TDateTime now = good.fLastCleanRun + 3;
    const struct {
        TSession* by;
        TDateTime at;
        bool leaveOutJob01;
        bool told;
    } checks[] = {
        {&session, now, false, true},
        {&other, now + kOneHour, false, false},
        {&session, now + 2 * kOneHour, false, false},
        {&other, now + 1, true, false},
        {&other, now + 1, false, true},
        {&session, now + 1 + kOneHour, false, false},
    };
    for (const auto& c : checks) {
        SCOPED_TRACE(formatGermanDateTime(c.at));
        const std::vector<const TCopyJob*> leaveOut{&c.by->jobs().getJob(0)};
        const std::vector<std::string> told =
            c.by->noticeOverdueJobs(c.at, c.leaveOutJob01 ? leaveOut : decltype(leaveOut){});
        EXPECT_EQ(told, c.told ? std::vector<std::string>{"Job01"} : std::vector<std::string>{});
        if (c.told) {
            const std::string line = fServices->line();
            EXPECT_EQ(line.rfind("Notify\tQV_Backup\tde.nerk.QV_Backup\tSicherung überfällig\t"
                                 "Backup-Job01 \"Gut\": überfällig seit ",
                                 0),
                      0u)
                << line;
        }
        EXPECT_TRUE(fServices->quiet());
    }

    // Without the services: the run goes on, a trace line says why.
    fServices->stop();
    test::buildTree(dir / "quelle/", {test::file("b.txt", "zwei")});
    session.runJob(good, TRunKind::Backup, TAnswers::Unattended);
    session.runJob(broken, TRunKind::Backup, TAnswers::Unattended);
    const auto& lines = session.protocol().lines();
    const auto has = [&](const std::string& start) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has("Der Ruhezustand wird nicht verhindert: "));
    EXPECT_TRUE(has("Keine Benachrichtigung: "));
}

// The window's runs offer their protocol where the desktop shows actions; a
// click on another notification or another action opens nothing.
TEST_F(DesktopNotice, AClickOnAWindowRunsNoticeOpensThatRunsProtocol) {
    TSession session(makeJobs());
    ASSERT_EQ(session.open(), "");
    std::vector<std::string> shown;
    session.showProtocolOnNoticeAction([&](const std::string& file) { shown.push_back(file); });
    TCopyJob& broken = session.jobs().getJob(1);
    const std::string told =
        "Notify\tQV_Backup\tde.nerk.QV_Backup\tSicherung mit Fehlern\tBackup-Job02 \"Kaputt\" "
        "wurde wegen Fehler(n) abgebrochen.";
    const auto runBroken = [&] {
        session.runJob(broken, TRunKind::Backup, TAnswers::Unattended);
        return fServices->line();
    };
    EXPECT_EQ(runBroken(), told + "\tdefault\tProtokoll anzeigen\t1");
    const std::string kept = session.lastHistoryFile();
    ASSERT_FALSE(kept.empty());
    for (const std::string click : {"7 default", "1 andere", "1 default"})
        fServices->write("ActionInvoked " + click);
    const QDeadlineTimer deadline(5000);
    while (shown.empty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
    EXPECT_EQ(shown, std::vector<std::string>{kept});

    startServices("--ohne-aktionen");
    EXPECT_EQ(runBroken(), told);
}

// A run without a window leaves a waiter behind for a click on its notice:
// the click starts the program on that run's protocol; the notice closed,
// the service gone or the time up end the wait without.
TEST_F(DesktopNotice, TheWaiterOfARunWithoutAWindowOpensItsProtocolOnAClick) {
    TSession session(makeJobs());
    ASSERT_EQ(session.open(), "");
    std::vector<std::pair<uint32_t, std::string>> left;
    session.leaveWaiterForNoticeActions(
        [&](uint32_t id, const std::string& file) { left.emplace_back(id, file); });
    session.runJob(session.jobs().getJob(1), TRunKind::Backup, TAnswers::Unattended);
    EXPECT_EQ(fServices->line().rfind("Notify", 0), 0u);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].second, session.lastHistoryFile());
    const std::vector<std::string> show = showProtocolCommand("/p/QV_Backup", "/x/q.ini", "/h.log");
    EXPECT_EQ(show, (std::vector<std::string>{"/p/QV_Backup", "--ini", "/x/q.ini",
                                              "--show-protocol", "/h.log"}));
    EXPECT_EQ(noticeWaiterCommand("/p/QV_Backup", "", 3, "/h.log"),
              (std::vector<std::string>{"/p/QV_Backup", "--notice-wait", "3", "/h.log"}));

    constexpr int kLong = 20000;
    const struct {
        std::vector<std::string> input;
        bool stopService;
        int limitMs;
        bool ran;
    } cases[] = {
        // Another notification's close or click, another action: the wait goes on.
        {{"NotificationClosed 7 2", "ActionInvoked 1 andere", "ActionInvoked 1 default"},
         false,
         kLong,
         true},
        {{"ActionInvoked 7 default", "NotificationClosed 1 2"}, false, kLong, false},
        {{}, true, kLong, false},
        {{}, false, 300, false},
    };
    for (const auto& c : cases) {
        std::vector<std::vector<std::string>> started;
        QTimer::singleShot(200, [&] {
            for (const std::string& line : c.input) fServices->write(line);
            if (c.stopService) fServices->stop();
        });
        QElapsedTimer took;
        took.start();
        EXPECT_EQ(awaitNoticeAction(left[0].first, show, c.limitMs,
                                    [&](const std::vector<std::string>& command) {
                                        started.push_back(command);
                                        return true;
                                    }),
                  c.ran);
        EXPECT_EQ(started, c.ran ? std::vector<std::vector<std::string>>{show}
                                 : std::vector<std::vector<std::string>>{});
        // Ended by what happened, not by the time limit.
        if (c.limitMs == kLong) {
            EXPECT_LT(took.elapsed(), kLong);
        }
        if (c.stopService) startServices({});
    }
}

}  // namespace
}  // namespace qvb
