#pragma once

// A main window on settings the test writes: jobs stored in a program INI file
// in a fresh folder (or the sandboxed registry store), message boxes recorded
// instead of shown, and the self-test's folders in temporary folders.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "platform/DataFolder.h"
#include "support/RecordingUserInterface.h"
#include "support/SettingsSandbox.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "ui/ListBox.h"
#include "ui/QV_BackupMain.h"

namespace qvb::test {

class MainWindowTest : public ::testing::Test {
  protected:
    using JobSetup = std::function<void(TCopyJob&)>;

    void SetUp() override {
        ::mkdir((dir / "settings").c_str(), 0700);
        setProgramIniFile(ini);
    }
    void TearDown() override {
        window.reset();
        setProgramIniFile("");
    }

    // Stores one job per setup (names "Job 1", "Job 2", ... unless the setup
    // changes them) with "CurrentJob" = current.
    void storeJobs(const std::vector<JobSetup>& setups, int current = 1) {
        TQV_BackupOptions options;
        TCopyJobList list(&options);
        for (size_t i = 0; i < setups.size(); ++i) {
            auto job = std::make_unique<TCopyJob>();
            job->fJobName = "Job " + std::to_string(i + 1);
            job->setDestination(dir / ("ziel" + std::to_string(i + 1) + "/"));
            if (setups[i]) setups[i](*job);
            list.add(std::move(job));
        }
        list.fCurrentJob = current;
        ASSERT_TRUE(list.saveJobs());
        ASSERT_TRUE(options.saveOptions());
    }
    void storeJobs(size_t count, int current = 1) {
        storeJobs(std::vector<JobSetup>(count), current);
    }

    TfrmMain& open() {
        window = std::make_unique<TfrmMain>();
        window->setSelfTestRoots({selfTestDir / "quelle/", selfTestDir / "ziel/"});
        return *window;
    }

    template <class T>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* action(const char* name) const { return child<QAction>(name); }
    TListBox* jobRows() const { return child<TListBox>("CheckListBoxJobs"); }
    TListBox* sourceRows() const { return child<TListBox>("CheckListBoxSourceDirs"); }
    std::vector<std::string> memoLines() const {
        const QString text = child<QPlainTextEdit>("MemoLog")->toPlainText();
        std::vector<std::string> lines;
        for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
        return lines;
    }
    bool memoHas(const std::string& line) const {
        const auto lines = memoLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    TCopyJob& job(int index) const { return window->jobs().getJob(index); }

    // Answers the next modal dialog once it is open.
    template <class Dialog>
    void whenDialogOpens(std::function<void(Dialog&)> answer) {
        QTimer::singleShot(0, [answer] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(*dialog);
        });
    }

    // The section names of the program INI file, sorted.
    std::vector<std::string> storedRecords() const {
        TIniFile file(ini);
        std::vector<std::string> names = file.readSections();
        std::sort(names.begin(), names.end());
        return names;
    }

    SettingsSandbox sandbox;
    TempDir dir;
    TempDir selfTestDir;
    RecordingUserInterface messages;
    const std::string ini = dir / "settings/QV_Backup.ini";
    std::unique_ptr<TfrmMain> window;
};

}  // namespace qvb::test
