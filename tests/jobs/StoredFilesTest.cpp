// What the stores hold after a full set of jobs and options was saved, byte
// for byte against the files kept in tests/jobs/data/stored/: users have these
// files on disk, so a change of the storage code must not change one byte.
// Run with QVB_WRITE_STORED_FILES=1 to write the kept files anew (only when
// the file format is meant to change).

#include <cstdlib>

#include "JobStorageFixture.h"

namespace qvb {
namespace {

const std::string kKept = std::string(QVB_SOURCE_DIR) + "/tests/jobs/data/stored/";

void expectKept(const std::string& written, const std::string& keptName) {
    if (std::getenv("QVB_WRITE_STORED_FILES")) {
        test::writeFile(kKept + keptName, test::readFile(written));
        return;
    }
    EXPECT_EQ(test::readFile(written), test::readFile(kKept + keptName)) << keptName;
}

class StoredFiles : public JobStorage {
  protected:
    // Every option away from its default, umlauts in texts.
    static void fillOptions(TQV_BackupOptions& o) {
        o.Logging = true;
        o.WinMainTop = 12;
        o.WinMainLeft = 34;
        o.WinMainHeight = 777;
        o.WinMainWidth = 888;
        o.LogLevel = 4;
        o.LastSrcDir = "/home/jürgen/Bilder/";
        o.LastDestDir = "/media/usb/Sicherung Ä/";
    }

    // Three jobs: every value set, umlauts in names and values, "=" in a
    // folder name, no sources at all, each interval but "once". The start
    // times are those of their schedules, which a load computes anew.
    static void fillJobs(TCopyJobList& list) {
        TCopyJob& fotos = list.add(sampleJob("Fotos & Übersicht", 3));
        fotos.fSources[1] = "/home/anna/a=b Ölbilder/=0";
        fotos.setInterval(kIntervalDaily);
        fotos.fExclude = "*.tmp;*.bäk";
        fotos.fSkipFolders = "Papierkorb;.cache";
        fotos.fVersionRuns =
            "täglich/d_02/|02.12.2026 08:00:00|ok;täglich/d_03/|03.12.2026 08:00:01|fehler";
        TCopyJob& leer = list.add(sampleJob("Leer", 0));
        leer.setInterval(kIntervalHourly);
        leer.fLastDestination.clear();
        leer.fIncludeOnly.clear();
        TCopyJob& buero = list.add(sampleJob("Büro", 1));
        buero.fWeekday = 7;
        buero.fTimeTolerance = 3600;
        buero.fContentOnly = false;
        buero.setInterval(kIntervalWeekly);
        list.fCurrentJob = 2;
    }
};

TEST_F(StoredFiles, BothStoresWriteTheKeptFilesByteForByte) {
    for (const bool useIni : {false, true}) {
        SCOPED_TRACE(useIni ? "ini" : "registry");
        if (useIni) test::writeFile(iniFile(), "");
        const std::string store = useIni ? iniFile() : sandbox.registryFile();
        const std::string kept = useIni ? "QV_Backup.ini" : "QV_Backup.conf";
        {
            auto options = makeOptions();
            ASSERT_EQ(options->fUseIniFile, useIni);
            fillOptions(*options);
            TCopyJobList list(options.get());
            fillJobs(list);
            ASSERT_TRUE(list.saveJobsAndOptions());
            ASSERT_TRUE(options->exportOptions());
            ASSERT_TRUE(list.exportJobs());
            // A source name that is not UTF-8 is refused whole, in the store
            // and in the export; what was there stays.
            list.add(sampleJob("Roh", 1)).fSources[0] =
                "/home/anna/Gr\xfc\xdf"
                "e/=1";
            EXPECT_FALSE(list.saveJobsAndOptions());
            EXPECT_FALSE(list.exportJobs());
        }
        expectKept(store, kept);
        expectKept(exportFile(), "QV_Backup.export.ini");

        // Read back and saved again, nothing changes.
        auto options = makeOptions();
        TCopyJobList list(options.get());
        ASSERT_EQ(list.loadJobs(), 3);
        ASSERT_TRUE(list.saveJobsAndOptions());
        ASSERT_TRUE(options->importOptions());
        ASSERT_EQ(list.importJobs().imported, 3);
        ASSERT_TRUE(options->exportOptions());
        ASSERT_TRUE(list.exportJobs());
        expectKept(store, kept);
        expectKept(exportFile(), "QV_Backup.export.ini");
    }
}

}  // namespace
}  // namespace qvb
