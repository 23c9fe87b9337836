#include "JobStorageFixture.h"
#include "engine/CopyFolder.h"
#include "jobs/StoredValues.h"

namespace qvb {
namespace {

TEST_F(JobStorage, RecordsRoundTripInBothStores) {
    for (const bool useIni : {false, true}) {
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        ASSERT_EQ(options->fUseIniFile, useIni);
        auto job = sampleJob("Fotos", 3);
        job->fJobKey = "Job01";
        ASSERT_TRUE(job->saveToStorage(*options));
        TCopyJob back;
        back.fJobKey = "Job01";
        ASSERT_TRUE(back.loadFromStorage(*options)) << useIni;
        expectSameRecord(back, *job);
    }
    const std::string ini = test::readFile(iniFile());
    EXPECT_NE(ini.find("Startzeit=02.01.2026 08:15:00\n"), std::string::npos);
    EXPECT_NE(ini.find("Löschen=1\nLetztesBackup=06.12.2026 22:00:05\n"), std::string::npos);
    EXPECT_NE(ini.find("Verzeichnis überspringen=cache;.git\n"), std::string::npos);
    EXPECT_NE(
        ini.find(
            "LetztesZiel=/media/usb/Alt/\nPlatzsparen=1\nLetzterIntervallordner=täglich/d_06/\n"),
        std::string::npos);
}

// The forms the time of the last clean run takes in a stored record: absent
// (a file from before the value), the zero date an empty value is written as,
// a real time, and what no time is. Only a real time counts; otherwise a run
// with errors must keep counting from the last backup, also after a save of
// the job. A broken value added to the record does not cost the ones after it.
TEST_F(JobStorage, LastCleanRunInEveryStoredFormSurvivesASave) {
    const TDateTime real = encodeDateTime({2026, 11, 30, 20, 0, 0, 0});
    const struct {
        const char* form;
        std::function<void(TSettingsStore&)> store;
        TDateTime expected;
    } cases[] = {
        {"absent", [](TSettingsStore& s) { s.eraseValue("Job01", "LetzterFehlerfreierLauf"); }, 0},
        {"zero", [](TSettingsStore& s) { s.writeTime("Job01", "LetzterFehlerfreierLauf", 0); }, 0},
        {"real", [&](TSettingsStore& s) { s.writeTime("Job01", "LetzterFehlerfreierLauf", real); },
         real},
        {"garbage",
         [](TSettingsStore& s) { s.writeText("Job01", "LetzterFehlerfreierLauf", "kaputt"); }, 0},
        {"id a number", [](TSettingsStore& s) { s.writeNumber("Job01", "Kennung", 7); }, 0},
    };
    for (const bool useIni : {false, true}) {
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(useIni ? "ini, " : "registry, ") + c.form);
            auto saved = sampleJob("Fotos", 1);
            saved->fJobKey = "Job01";
            saved->fLastCleanRun = 0;
            saved->fVersionRuns = "täglich/d_06/|06.12.2026 22:00:05|ok";
            ASSERT_TRUE(saved->saveToStorage(*options));
            c.store(options->store());
            ASSERT_TRUE(options->flushStore());
            TCopyJob loaded;
            loaded.fJobKey = "Job01";
            for (int save = 0; save < 2; ++save) {
                EXPECT_TRUE(loaded.loadFromStorage(*options));
                EXPECT_NEAR(loaded.fLastCleanRun, c.expected, kOneSecond / 2) << save;
                EXPECT_EQ(loaded.fVersionRuns, saved->fVersionRuns);
                ASSERT_TRUE(loaded.saveToStorage(*options));
            }
            loaded.fStatistics.fErrors = 1;
            loaded.noteFinishedRun(kNow);
            EXPECT_NEAR(loaded.fLastCleanRun, c.expected > 0 ? c.expected : saved->fLastBackup,
                        kOneSecond / 2);
        }
    }
}

TEST_F(JobStorage, RegistryRecordWithoutSourceCountLoadsInPart) {
    auto options = makeOptions();
    options->fRegistry->writeText("Job01", "Name", "Fotos");
    options->fRegistry->writeText("Job01", "Ziel", "/media/usb/");
    options->fRegistry->writeText("Job01", "Quelle0", "/home/anna/=1");
    TCopyJob job;
    job.fJobKey = "Job01";
    EXPECT_FALSE(job.loadFromStorage(*options));
    EXPECT_EQ(job.fJobName, "Fotos");
    EXPECT_EQ(job.fDestination, "/media/usb/");
    EXPECT_TRUE(job.fSources.empty());
    EXPECT_DOUBLE_EQ(job.fStartTime, kNow);
    EXPECT_DOUBLE_EQ(job.fEndTime, kNow);
    EXPECT_EQ(job.fInterval, 0);
    EXPECT_EQ(job.fWeekday, 1);
    EXPECT_TRUE(job.fActive);

    // The same gap in an INI section simply means no sources.
    test::writeFile(iniFile(), "[Job01]\nName=Fotos\nQuelle0=/home/anna/=1\n");
    auto iniOptions = makeOptions();
    EXPECT_TRUE(job.loadFromStorage(*iniOptions));
    EXPECT_TRUE(job.fSources.empty());
}

TEST_F(JobStorage, RegistryRecordDefaultsAndLimits) {
    auto options = makeOptions();
    auto saved = sampleJob("Fotos", 1);
    saved->fJobKey = "Job01";
    saved->fWeekday = 0;
    saved->fTimeTolerance = 0;
    saved->fExclude = "*.TMP,Ä*.Bak";
    saved->fIncludeOnly = "*.JPG";
    ASSERT_TRUE(saved->saveToStorage(*options));
    TRegistryStore& reg = *options->fRegistry;
    reg.eraseValue("Job01", "LetztesBackup");
    reg.commit();

    TCopyJob job;
    job.fJobKey = "Job01";
    EXPECT_TRUE(job.loadFromStorage(*options));
    EXPECT_EQ(job.fLastBackup, 0);
    EXPECT_EQ(job.fMessages.back(), "Fotos: Letzte Sicherung nicht gespeichert");
    EXPECT_EQ(job.fWeekday, 1);
    EXPECT_EQ(job.fTimeTolerance, 2);
    EXPECT_EQ(job.fExclude, "*.tmp,ä*.bak");
    EXPECT_EQ(job.fIncludeOnly, "*.jpg");

    // The optional values fall back to their defaults when absent.
    for (const char* name : {"Löschen", "Ausschliessen", "NurDiese", "Verzeichnis überspringen",
                             "NurVerzeichnisInhalt", "Zeitunterschied", "LetztesZiel",
                             "Platzsparen", "LetzterIntervallordner"})
        reg.eraseValue("Job01", name);
    reg.writeTime("Job01", "LetztesBackup", encodeDateTime({2026, 12, 6, 22, 0, 5, 0}));
    job.fMessages.clear();
    EXPECT_TRUE(job.loadFromStorage(*options));
    EXPECT_FALSE(job.fDelete);
    EXPECT_EQ(job.fExclude, "");
    EXPECT_FALSE(job.fContentOnly);
    EXPECT_EQ(job.fTimeTolerance, 2);
    EXPECT_EQ(job.fLastDestination, "") << "never finished a run";
    EXPECT_FALSE(job.fSaveSpace);
    EXPECT_EQ(job.fLastIntervalFolder, "");
    EXPECT_EQ(job.fMessages.back(), "Fotos: Letzte Sicherung = 06.12.2026 22:00:05");

    // A text where a number belongs stops the reading.
    reg.writeText("Job01", "Wochentag", "Montag");
    EXPECT_FALSE(job.loadFromStorage(*options));
    EXPECT_EQ(job.fWeekday, 1);
    EXPECT_EQ(job.fSources.size(), 1u);
}

TEST_F(JobStorage, AStoredSourceCountCannotOutgrowTheRecord) {
    test::writeFile(iniFile(), "[Job01]\nAnzahlQuellen=2000000000\nQuelle0=/a/=1\nQuelle1=/b/=0\n");
    auto options = makeOptions();
    TCopyJob job;
    job.fJobKey = "Job01";
    job.loadFromStorage(*options);
    ASSERT_LE(job.fSources.size(), 3u);
    EXPECT_EQ(job.fSources[0], "/a/=1");
    EXPECT_EQ(job.fSources[1], "/b/=0");
}

TEST_F(JobStorage, ListLoadsEveryRecordButTheOptions) {
    test::writeFile(
        iniFile(),
        "[Options]\nCurrentJob=5\n[Job01]\nName=Eins\n[Job02]\nName=Zwei\nZeitunterschied=1\n");
    auto options = makeOptions();
    TCopyJobList list(options.get());
    EXPECT_EQ(list.loadJobs(), 2);
    EXPECT_EQ(list.getJob(0).fJobKey, "Job01");
    EXPECT_EQ(list.getJob(1).fJobName, "Zwei");
    EXPECT_EQ(list.getJob(1).fTimeTolerance, 2);
    EXPECT_EQ(list.getJob(1).fDestination, "");
    EXPECT_EQ(static_cast<TCopyIt*>(list.getJob(1).fCopyFolder.get()), list.getJob(1).fPassTo);
    EXPECT_EQ(list.fCurrentJob, 2);  // never beyond the jobs
    EXPECT_TRUE(ui.shown.empty());

    TCopyJob& stray = list.getJob(-1);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Datensatz -1 nicht in JobList enthalten!");
    EXPECT_EQ(ui.shown[0].kind, TMsgKind::Error);
    EXPECT_EQ(list.indexOf(&stray), -1);
    EXPECT_EQ(stray.fJobName, "CopyJob");
    list.getJob(2);
    EXPECT_EQ(ui.shown.back().text, "Datensatz 2 nicht in JobList enthalten!");
}

TEST_F(JobStorage, SavingRenumbersAndDeletingTheMiddleJobLeavesNoGap) {
    auto options = makeOptions();
    {
        TCopyJobList list(options.get());
        for (int i = 1; i <= 11; ++i) list.add(sampleJob("J" + std::to_string(i), 1));
        ASSERT_TRUE(list.saveJobs());
        EXPECT_EQ(list.fCurrentJob, 1);
        EXPECT_EQ(options->CurrentJob, 1);
        EXPECT_EQ(options->fRegistry->records(),
                  (std::vector<std::string>{"Job01", "Job02", "Job03", "Job04", "Job05", "Job06",
                                            "Job07", "Job08", "Job09", "Job10", "Job11"}));
        for (int i = 0; i < 11; ++i) ASSERT_TRUE(list.getJob(i).deleteFromStorage(*options));
        EXPECT_TRUE(options->fRegistry->records().empty());
    }
    TCopyJobList list(options.get());
    for (const char* name : {"Eins", "Zwei", "Drei"}) list.add(sampleJob(name, 2));
    ASSERT_TRUE(list.saveJobs());
    // What the window's delete command does.
    for (int i = 0; i < list.count(); ++i) list.getJob(i).deleteFromStorage(*options);
    list.remove(1);
    ASSERT_TRUE(list.saveJobs());
    EXPECT_EQ(options->fRegistry->records(), (std::vector<std::string>{"Job01", "Job02"}));
    TCopyJobList loaded(options.get());
    ASSERT_EQ(loaded.loadJobs(), 2);
    EXPECT_EQ(loaded.getJob(1).fJobName, "Drei");
}

// A job made since the last save is exported too; a job the file does not
// name keeps its settings; importing twice adds nothing twice.
TEST_F(JobStorage, ExportAndImportTwiceKeepsTheSourcesOfTheFile) {
    auto options = makeOptions();
    TCopyJobList list(options.get());
    list.add(sampleJob("Fotos", 2));
    list.add(sampleJob("Musik", 1));
    ASSERT_TRUE(list.saveJobs());
    list.add(sampleJob("Neu", 1)).fDestination = "/neu/ziel/";
    ASSERT_TRUE(options->exportOptions());
    ASSERT_TRUE(list.exportJobs());
    list.getJob(0).fSources.push_back("/neu/=1");
    list.getJob(2).fDestination = "/anders/";
    list.add(sampleJob("Ohne", 0)).fDestination = "/ohne/";  // not in the file

    for (int round = 0; round < 2; ++round) {
        const TImportResult result = list.importJobs();
        EXPECT_EQ(result.imported, 3);
        EXPECT_EQ(result.appended, 0);
    }
    ASSERT_EQ(list.count(), 4);
    EXPECT_EQ(list.getJob(0).fSources, sampleJob("", 2)->fSources);
    EXPECT_EQ(list.getJob(1).fJobName, "Musik");
    EXPECT_EQ(list.getJob(1).fTimeTolerance, 7);
    EXPECT_EQ(list.getJob(2).fDestination, "/neu/ziel/");
    EXPECT_EQ(list.getJob(3).fJobName, "Ohne");
    EXPECT_EQ(list.getJob(3).fDestination, "/ohne/");
    EXPECT_EQ(test::readFile(exportFile()).find("[Options]\n"), 0u);
}

TEST_F(JobStorage, DeletingOneSourceValue) {
    for (const bool useIni : {false, true}) {
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        auto job = sampleJob("Fotos", 2);
        job->fJobKey = "Job01";
        ASSERT_TRUE(job->saveToStorage(*options));
        ASSERT_TRUE(deleteStorageValue(*job, "Quelle1", *options));
        TCopyJob back;
        back.fJobKey = "Job01";
        back.loadFromStorage(*options);
        EXPECT_EQ(back.fSources, (std::vector<std::string>{"/home/anna/Q0=1", ""}));
        TCopyJob unsaved;
        EXPECT_TRUE(deleteStorageValue(unsaved, "Quelle0", *options));
        EXPECT_TRUE(unsaved.deleteFromStorage(*options));
        EXPECT_FALSE(unsaved.saveToStorage(*options));
    }
}

TEST_F(JobStorage, AWindowsMadeIniFileIsReadAsItStands) {
    test::writeFile(iniFile(),
                    "[OPTIONS]\r\nCurrentJob=1\r\nLogging=0\r\n\r\n"
                    "[job01]\r\nNAME=B\xfcro\r\nziel=D:\\Sicherung\\\r\nanzahlquellen=1\r\n"
                    "QUELLE0=C:\\Dokumente und Einstellungen\\anna\\Eigene Dateien=1\r\n"
                    "startzeit=07.12.2026 08:00:00\r\nINTERVALL=2\r\nL\xd6SCHEN=1\r\n"
                    "Ausschliessen=*.TMP;*.B\xc4K\r\nVerzeichnis \xdc"
                    "berspringen=Tempor\xe4r\r\n");
    auto options = makeOptions();
    ASSERT_TRUE(options->fUseIniFile);
    TCopyJobList list(options.get());
    ASSERT_EQ(list.loadJobs(), 1);
    const TCopyJob& job = list.getJob(0);
    EXPECT_EQ(job.fJobKey, "job01");
    EXPECT_EQ(job.fJobName, "Büro");
    EXPECT_EQ(job.fDestination, "D:\\Sicherung\\");
    EXPECT_EQ(
        job.fSources,
        (std::vector<std::string>{"C:\\Dokumente und Einstellungen\\anna\\Eigene Dateien=1"}));
    EXPECT_DOUBLE_EQ(job.fStartTime, encodeDateTime({2026, 12, 7, 8, 0, 0, 0}));
    EXPECT_EQ(job.fInterval, 2);
    EXPECT_TRUE(job.fDelete);
    EXPECT_EQ(job.fExclude, "*.tmp;*.bäk");
    EXPECT_EQ(job.fSkipFolders, "Temporär");
    EXPECT_EQ(list.fCurrentJob, 1);
    // Saving writes UTF-8 and keeps the parts it does not know.
    ASSERT_TRUE(list.saveJobs());
    ASSERT_TRUE(options->saveOptions());
    const std::string text = test::readFile(iniFile());
    EXPECT_NE(text.find("NAME=Büro\r\n"), std::string::npos);
    EXPECT_NE(text.find("[OPTIONS]\r\n"), std::string::npos);
    EXPECT_EQ(text.find("[Job01]"), std::string::npos);  // the existing section was used
}

}  // namespace
}  // namespace qvb

namespace qvb {
namespace {

// One value of a full record made unreadable: a registry record keeps the
// values read before it (in the registry's order) and none after it; an INI
// section loses only that value.
TEST_F(JobStorage, ABrokenValueEndsARegistryRecordInItsOrder) {
    using Same = std::function<bool(const TCopyJob&, const TCopyJob&)>;
    const std::vector<std::pair<std::string, Same>> order{
        {"Name", [](auto& a, auto& b) { return a.fJobName == b.fJobName; }},
        {"Ziel", [](auto& a, auto& b) { return a.fDestination == b.fDestination; }},
        {"AnzahlQuellen", nullptr},
        {"Quelle0", [](auto& a, auto& b) { return a.fSources == b.fSources; }},
        {"Startzeit", [](auto& a, auto& b) { return a.fStartTime == b.fStartTime; }},
        {"Endzeit", [](auto& a, auto& b) { return a.fEndTime == b.fEndTime; }},
        {"Wochentag", [](auto& a, auto& b) { return a.fWeekday == b.fWeekday; }},
        {"LetztesBackup", [](auto& a, auto& b) { return a.fLastBackup == b.fLastBackup; }},
        {"Intervall", [](auto& a, auto& b) { return a.fInterval == b.fInterval; }},
        {"Aktiv", [](auto& a, auto& b) { return a.fActive == b.fActive; }},
        {"Löschen", [](auto& a, auto& b) { return a.fDelete == b.fDelete; }},
        {"Ausschliessen", [](auto& a, auto& b) { return a.fExclude == b.fExclude; }},
        {"NurDiese", [](auto& a, auto& b) { return a.fIncludeOnly == b.fIncludeOnly; }},
        {"NurVerzeichnisInhalt", [](auto& a, auto& b) { return a.fContentOnly == b.fContentOnly; }},
        {"Zeitunterschied", [](auto& a, auto& b) { return a.fTimeTolerance == b.fTimeTolerance; }},
        {"LetztesZiel", [](auto& a, auto& b) { return a.fLastDestination == b.fLastDestination; }},
        {"Verzeichnis überspringen",
         [](auto& a, auto& b) { return a.fSkipFolders == b.fSkipFolders; }},
    };
    auto saved = sampleJob("Fotos", 1);
    saved->fJobKey = "Job01";
    saved->setInterval(kIntervalDaily);
    for (const bool useIni : {false, true}) {
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        TSettingsStore& store = options->store();
        for (size_t broken = 0; broken < order.size(); ++broken) {
            const std::string& name = order[broken].first;
            SCOPED_TRACE((useIni ? "ini, " : "registry, ") + name);
            ASSERT_TRUE(saved->saveToStorage(*options));
            TStoredValue kept;
            const bool isText =
                readStored(store, "Job01", name, TValueType::Text, kept) == TReadResult::Ok &&
                readStored(store, "Job01", name, TValueType::Number, kept) != TReadResult::Ok &&
                readStored(store, "Job01", name, TValueType::Time, kept) != TReadResult::Ok;
            // In an INI file a text is never of the wrong type, and the count
            // takes its sources with it.
            if (useIni && (isText || !order[broken].second)) continue;
            if (isText)
                store.writeNumber("Job01", name, 5);
            else
                store.writeText("Job01", name, "kaputt");
            TCopyJob loaded;
            loaded.fJobKey = "Job01";
            EXPECT_EQ(loaded.loadFromStorage(*options), useIni);
            for (size_t i = 0; i < order.size(); ++i) {
                if (!order[i].second) continue;
                EXPECT_EQ(order[i].second(loaded, *saved), useIni ? i != broken : i < broken)
                    << order[i].first;
            }
        }
    }
}

}  // namespace
}  // namespace qvb
