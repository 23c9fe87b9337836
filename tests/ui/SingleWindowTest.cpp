#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include "jobs/CopyJob.h"
#include "session/ProtocolHistory.h"
#include "ui/SingleWindow.h"

using namespace qvb;

namespace {

using TClaim = TSingleWindow::TClaim;

// Two windows, the other one active: a request must change that.
struct TwoWindows {
    TwoWindows() {
        first.setWindowTitle("first");
        other.setWindowTitle("other");
        first.show();
        other.show();
        other.activateWindow();
    }
    QWidget first;
    QWidget other;
};

}  // namespace

class SingleWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(fHome.isValid());
        // Lock, socket and the started program's settings stay in the sandbox.
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"}) {
            const QString folder = fHome.filePath(QString::fromLatin1(name));
            QVERIFY(QDir().mkpath(folder));
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv(name, QFile::encodeName(folder));
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        fSettings = fHome.filePath("QV_Backup.ini");
    }

    void secondStartOfTheWindowEndsAndRaisesTheFirst() {
        TSingleWindow owner(fSettings);
        QCOMPARE(owner.claim(), TClaim::Owner);
        TwoWindows windows;
        QTRY_VERIFY(windows.other.isActiveWindow());
        owner.bringForwardOnRequest(&windows.first);
        QSignalSpy requests(&owner, &TSingleWindow::activationRequested);

        QElapsedTimer clock;
        clock.start();
        QProcess second;
        second.start(QVB_BINARY, {"--ini", fSettings});
        QVERIFY(second.waitForFinished(2000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        QTRY_COMPARE(requests.count(), 1);
        QTRY_VERIFY(windows.first.isActiveWindow());
    }

    void aRunningProgramIsAskedAndAKilledOneFreesItsSettings() {
        QProcess first;
        first.start(QVB_BINARY, {"--ini", fSettings});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(TSingleWindow::socketName(fSettings)), 10000);
        QProcess second;
        second.start(QVB_BINARY, {"--ini", fSettings});
        QVERIFY(second.waitForFinished(2000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        // Neither the lock nor the socket file it leaves behind block the next start.
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        QVERIFY(QFileInfo::exists(TSingleWindow::socketName(fSettings)));
        TSingleWindow next(fSettings);
        QCOMPARE(next.claim(), TClaim::Owner);
        QCOMPARE(TSingleWindow(fSettings).claim(), TClaim::AskedRunning);
    }

    void commandLineAndOtherSettingsAreNotBlocked() {
        TSingleWindow owner(fSettings);
        QCOMPARE(owner.claim(), TClaim::Owner);
        QProcess list;
        list.start(QVB_BINARY, {"--ini", fSettings, "--list"});
        QVERIFY(list.waitForFinished(10000));
        QCOMPARE(list.exitCode(), 0);
        QCOMPARE(TSingleWindow(fHome.filePath("Andere.ini")).claim(), TClaim::Owner);
    }

    void everySpellingOfTheSettingsFileIsTheSameWindow() {
        QVERIFY(QDir().mkpath(fHome.filePath("sub")));
        QVERIFY(QFile::link(fHome.path(), fHome.filePath("link")));
        TSingleWindow owner(fSettings);
        QCOMPARE(owner.claim(), TClaim::Owner);
        QSignalSpy requests(&owner, &TSingleWindow::activationRequested);
        QDir::setCurrent(fHome.filePath("sub"));
        for (const QString& other :
             {fHome.filePath("sub/../QV_Backup.ini"), fHome.filePath("link/QV_Backup.ini"),
              QDir(fHome.filePath("sub")).relativeFilePath(fSettings)}) {
            QCOMPARE(TSingleWindow(other).claim(), TClaim::AskedRunning);
        }
        QTRY_COMPARE(requests.count(), 3);
    }

    void aHolderThatDoesNotAnswerIsReportedAndNotJoined() {
        const QByteArray lockFile = QFile::encodeName(TSingleWindow::lockFileName(fSettings));
        const int fd = ::open(lockFile.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        QFile::remove(TSingleWindow::socketName(fSettings));

        QProcess second;
        second.start(QVB_BINARY, {"--ini", fSettings});
        QVERIFY(second.waitForFinished(5000));
        ::close(fd);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(second.readAllStandardError()),
                 QStringLiteral("QV_Backup: Das Fenster ist mit diesen Einstellungen schon "
                                "geöffnet, antwortet aber nicht.\n"));
    }

    // A start with --show-protocol hands a kept run, by any spelling, to the
    // open window; a file these settings did not keep is refused before the
    // window is asked.
    void aShownProtocolTravelsToTheOpenWindowAndOthersAreRefused() {
        const std::string folder =
            historyFolderFor(fHome.path().toStdString(), fSettings.toStdString());
        TCopyJob job;
        job.fJobKey = "Job01";
        job.fStatus = csError;
        const std::string kept = keepRunProtocol(folder, encodeDateTime({2026, 12, 1, 8, 0, 0}),
                                                 job, std::vector<std::string>{"Lauf"});
        QVERIFY(!kept.empty());
        const QString name = QFileInfo(QString::fromStdString(kept)).fileName();
        const QString foreign = fHome.filePath(name);
        QVERIFY(QFile::copy(QString::fromStdString(kept), foreign));
        TSingleWindow owner(fSettings);
        QCOMPARE(owner.claim(), TClaim::Owner);
        QSignalSpy asked(&owner, &TSingleWindow::protocolRequested);
        const QString refused =
            "QV_Backup: Das Protokoll \"%1\" gehört nicht zu den aufbewahrten Läufen dieser "
            "Einstellungen.\n";
        const struct {
            QString file;
            QString workDir;
            int exit;
            QString error;
        } cases[] = {
            {QString::fromStdString(kept), fHome.path(), 0, ""},
            {name, QString::fromStdString(folder), 0, ""},
            {foreign, fHome.path(), 2, refused.arg(foreign)},
            {fHome.filePath("fehlt.log"), fHome.path(), 2,
             refused.arg(fHome.filePath("fehlt.log"))},
        };
        int received = 0;
        for (const auto& c : cases) {
            QProcess second;
            second.setWorkingDirectory(c.workDir);
            second.start(QVB_BINARY, {"--ini", fSettings, "--show-protocol", c.file});
            QVERIFY(second.waitForFinished(5000));
            QCOMPARE(second.exitCode(), c.exit);
            QCOMPARE(QString::fromUtf8(second.readAllStandardError()), c.error);
            if (c.exit != 0) continue;
            ++received;
            QTRY_COMPARE(asked.count(), received);
            QCOMPARE(asked.last().at(0).toByteArray().toStdString(), kept);
        }
        QTest::qWait(200);
        QCOMPARE(asked.count(), received);
    }

  private:
    QTemporaryDir fHome;
    QString fSettings;
};

QTEST_MAIN(SingleWindowTest)
#include "SingleWindowTest.moc"
