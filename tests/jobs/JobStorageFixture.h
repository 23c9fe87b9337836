#pragma once

// Settings sandbox, fixed clock and sample jobs shared by the storage tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "jobs/CopyJobList.h"
#include "support/RecordingUserInterface.h"
#include "support/SettingsSandbox.h"
#include "support/Tree.h"
#include "util/DateTime.h"

namespace qvb {

inline const TDateTime kNow = encodeDateTime({2026, 12, 7, 14, 30, 0, 0});

class JobStorage : public ::testing::Test {
  protected:
    JobStorage() {
        setClock([] { return kNow; });
    }
    ~JobStorage() override { setClock({}); }

    std::string iniFile() const { return sandbox.dataFolder() + "QV_Backup.ini"; }
    std::string exportFile() const { return sandbox.dataFolder() + "QV_Backup.export.ini"; }
    std::unique_ptr<TQV_BackupOptions> makeOptions() {
        return std::make_unique<TQV_BackupOptions>();
    }

    // A job with every value set away from the defaults.
    static std::unique_ptr<TCopyJob> sampleJob(const std::string& name, int sources) {
        auto job = std::make_unique<TCopyJob>();
        job->fJobName = name;
        job->fDestination = "/media/usb/Backup/";
        for (int i = 0; i < sources; ++i)
            job->fSources.push_back("/home/anna/Q" + std::to_string(i) + "=1");
        job->fStartTime = encodeDateTime({2026, 1, 2, 8, 15, 0, 0});
        job->fEndTime = encodeDateTime({2026, 1, 2, 17, 45, 30, 0});
        job->fWeekday = 5;
        job->fInterval = kIntervalWeekly;
        job->fActive = false;
        job->fDelete = true;
        job->fLastBackup = encodeDateTime({2026, 12, 6, 22, 0, 5, 0});
        job->fExclude = "*.tmp,*.bak";
        job->fIncludeOnly = "*.jpg";
        job->fSkipFolders = "cache;.git";
        job->fContentOnly = true;
        job->fTimeTolerance = 7;
        job->fLastDestination = "/media/usb/Alt/";
        job->fSaveSpace = true;
        job->fLastIntervalFolder = "täglich/d_06/";
        job->fLastCleanRun = encodeDateTime({2026, 12, 5, 22, 0, 7, 0});
        return job;
    }

    static void expectSameRecord(const TCopyJob& a, const TCopyJob& b) {
        EXPECT_EQ(a.fJobName, b.fJobName);
        EXPECT_EQ(a.fDestination, b.fDestination);
        EXPECT_EQ(a.fSources, b.fSources);
        EXPECT_NEAR(a.fStartTime, b.fStartTime, kOneSecond / 2);
        EXPECT_NEAR(a.fEndTime, b.fEndTime, kOneSecond / 2);
        EXPECT_EQ(a.fWeekday, b.fWeekday);
        EXPECT_EQ(a.fInterval, b.fInterval);
        EXPECT_EQ(a.fActive, b.fActive);
        EXPECT_EQ(a.fDelete, b.fDelete);
        EXPECT_NEAR(a.fLastBackup, b.fLastBackup, kOneSecond / 2);
        EXPECT_EQ(a.fExclude, b.fExclude);
        EXPECT_EQ(a.fIncludeOnly, b.fIncludeOnly);
        EXPECT_EQ(a.fSkipFolders, b.fSkipFolders);
        EXPECT_EQ(a.fContentOnly, b.fContentOnly);
        EXPECT_EQ(a.fTimeTolerance, b.fTimeTolerance);
        EXPECT_EQ(a.fLastDestination, b.fLastDestination);
        EXPECT_EQ(a.fSaveSpace, b.fSaveSpace);
        EXPECT_EQ(a.fLastIntervalFolder, b.fLastIntervalFolder);
        EXPECT_NEAR(a.fLastCleanRun, b.fLastCleanRun, kOneSecond / 2);
    }

    test::SettingsSandbox sandbox;
    test::RecordingUserInterface ui;
};

}  // namespace qvb
