// The job list against its stores: what a save leaves there (no ghost jobs,
// the same order, one write), values that cannot be stored, and a fixed file
// written by the Windows program, read value by value.

#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "JobStorageFixture.h"
#include "engine/CopyFolder.h"
#include "jobs/CopyJobStorage.h"
#include "util/Sys.h"
#include "util/TextCase.h"

namespace qvb {
namespace {

using Names = std::vector<std::string>;

Names jobNames(const TCopyJobList& list) {
    Names names;
    for (int i = 0; i < list.count(); ++i)
        names.push_back(const_cast<TCopyJobList&>(list).getJob(i).fJobName);
    return names;
}

Names folded(Names names) {
    for (auto& name : names) name = foldCase(name);
    std::sort(names.begin(), names.end());
    return names;
}

// How often `name` in `folder` was put in place (renamed or linked there)
// while `action` ran: each time is one replace of the file.
int replacesOf(const std::string& folder, const std::string& name,
               const std::function<void()>& action) {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd, folder.c_str(), IN_MOVED_TO | IN_CREATE);
    action();
    int count = 0;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if (event->len > 0 && name == event->name) ++count;
            p += sizeof(inotify_event) + event->len;
        }
    }
    ::close(fd);
    return count;
}

// Runs `action` in a child process that is killed right before its n-th
// write or rename; false when the action finished first.
bool killedBeforeCall(int n, const std::function<void()>& action) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int calls = 0;
        sys::setFaultHook([&](sys::Op op, const char*) {
            if ((op == sys::Op::Write || op == sys::Op::Rename) && ++calls == n) ::raise(SIGKILL);
            return 0;
        });
        action();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status);
}

class JobListStorage : public JobStorage {
  protected:
    std::string storeFile(const TQVOptions& options) const {
        return options.fUseIniFile ? iniFile() : sandbox.registryFile();
    }
    TCopyJobList& listOf(const std::unique_ptr<TQV_BackupOptions>& options) {
        lists.push_back(std::make_unique<TCopyJobList>(options.get()));
        return *lists.back();
    }
    std::vector<std::unique_ptr<TCopyJobList>> lists;
};

TEST_F(JobListStorage, ASaveLeavesExactlyTheRecordsOfTheListInTheirOrder) {
    // A gap, numbers out of order, a hand-made name and a duplicate in
    // another letter case.
    test::writeFile(iniFile(),
                    "[Options]\nCurrentJob=1\n[Job02]\nName=Zwei\n[Job01]\nName=Eins\n"
                    "[Job10]\nName=Zehn\n[Job9]\nName=Neun\n[Fotos]\nName=Fotos\n"
                    "[job01]\nName=Doppelt\n");
    const Names order{"Eins", "Zwei", "Neun", "Zehn", "Fotos"};
    for (int round = 0; round < 3; ++round) {
        auto options = makeOptions();
        TCopyJobList& list = listOf(options);
        ASSERT_EQ(list.loadJobs(), 5) << round;
        EXPECT_EQ(jobNames(list), order) << round;
        ASSERT_TRUE(list.saveJobs());
        EXPECT_EQ(folded(options->fIniFile->readSections()),
                  folded({"Options", "Job01", "Job02", "Job03", "Job04", "Job05"}));
    }

    // The registry store lists "job01" beside "Job01", and "Job100" before "Job11".
    auto options = makeOptions();
    TRegistryStore& reg = *options->fRegistry;
    for (const auto& [key, name] :
         std::vector<std::pair<std::string, std::string>>{{"Job02", "Zwei"},
                                                          {"Job01", "Eins"},
                                                          {"Job100", "Hundert"},
                                                          {"Job11", "Elf"},
                                                          {"Fotos", "Fotos"},
                                                          {"job01", "Doppelt"}})
        reg.writeText(key, "Name", name);
    options->fUseIniFile = false;
    for (int round = 0; round < 3; ++round) {
        TCopyJobList& list = listOf(options);
        ASSERT_EQ(list.loadJobs(), 5) << round;
        EXPECT_EQ(jobNames(list), (Names{"Eins", "Zwei", "Elf", "Hundert", "Fotos"})) << round;
        ASSERT_TRUE(list.saveJobs());
        Names keys = reg.records();
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, (Names{"Job01", "Job02", "Job03", "Job04", "Job05"}));
    }
}

TEST_F(JobListStorage, DeletingAJobWithTheWindowsCommand) {
    for (const bool useIni : {false, true}) {
        SCOPED_TRACE(useIni ? "ini" : "registry");
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        TCopyJobList& list = listOf(options);
        for (const char* name : {"Eins", "Zwei", "Drei"}) list.add(sampleJob(name, 2));
        list.getJob(1).fSources.push_back("/nur/im/zweiten=1");
        ASSERT_TRUE(list.saveJobs());
        EXPECT_FALSE(list.deleteJob(3));
        ASSERT_TRUE(list.deleteJob(1));
        EXPECT_EQ(jobNames(list), (Names{"Eins", "Drei"}));

        auto reloaded = makeOptions();
        TCopyJobList& back = listOf(reloaded);
        ASSERT_EQ(back.loadJobs(), 2);
        EXPECT_EQ(back.getJob(1).fJobKey, "Job02");
        expectSameRecord(back.getJob(1), list.getJob(1));
        // Erased and written anew: nothing of the second job stays in Job02.
        if (useIni)
            EXPECT_FALSE(reloaded->fIniFile->valueExists("Job02", "Quelle2"));
        else
            EXPECT_FALSE(reloaded->fRegistry->valueExists("Job02", "Quelle2"));
    }
}

// Every save of the list, and the window's delete command, reaches the file
// as one replace.
TEST_F(JobListStorage, EachSaveIsOneReplaceOfTheFile) {
    for (const bool useIni : {false, true}) {
        SCOPED_TRACE(useIni ? "ini" : "registry");
        if (useIni) test::writeFile(iniFile(), "[Options]\n");
        auto options = makeOptions();
        ASSERT_TRUE(options->saveOptions());
        const std::string file = storeFile(*options);
        const std::string folder = file.substr(0, file.rfind('/'));
        const std::string name = file.substr(file.rfind('/') + 1);
        TCopyJobList& list = listOf(options);
        for (const char* job : {"Eins", "Zwei", "Drei"}) list.add(sampleJob(job, 2));
        EXPECT_EQ(replacesOf(folder, name, [&] { ASSERT_TRUE(list.saveJobs()); }), 1);
        EXPECT_EQ(replacesOf(folder, name, [&] { ASSERT_TRUE(list.saveJobsAndOptions()); }), 1);
        EXPECT_EQ(replacesOf(folder, name, [&] { ASSERT_TRUE(list.deleteJob(0)); }), 1);
    }
}

// Killed at any write or rename of the delete command, the file holds the
// settings before it, whole; the next start clears the temporary file.
TEST_F(JobListStorage, AKillDuringTheDeleteCommandLeavesTheOldSettingsWhole) {
    test::writeFile(iniFile(), "");
    auto options = makeOptions();
    TCopyJobList& list = listOf(options);
    for (const char* name : {"Eins", "Zwei", "Drei"}) list.add(sampleJob(name, 2));
    ASSERT_TRUE(list.saveJobsAndOptions());
    const std::string before = test::readFile(iniFile());
    int call = 1;
    for (; killedBeforeCall(call, [&] { list.deleteJob(1); }); ++call) {
        ASSERT_EQ(test::readFile(iniFile()), before) << "killed at call " << call;
        makeOptions();  // the next start
    }
    EXPECT_GT(call, 1);
    EXPECT_EQ(test::readTree(sandbox.dataFolder()).size(), 1u) << "no temporary file is left";
    auto reloaded = makeOptions();
    TCopyJobList& back = listOf(reloaded);
    ASSERT_EQ(back.loadJobs(), 2);
    EXPECT_EQ(jobNames(back), (Names{"Eins", "Drei"}));
}

TEST_F(JobListStorage, AValueThatCannotBeStoredRefusesTheWholeSave) {
    for (const bool useIni : {false, true}) {
        SCOPED_TRACE(useIni ? "ini" : "registry");
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        TCopyJobList& list = listOf(options);
        for (const char* name : {"Eins", "Zwei", "Drei"}) list.add(sampleJob(name, 2));
        ASSERT_TRUE(list.saveJobsAndOptions());
        const std::string file = storeFile(*options);
        const std::string before = test::readFile(file);

        // A line break cannot go into an INI line; bytes that are no UTF-8
        // cannot go into either store.
        list.getJob(1).fSources[1] = useIni ? "/home/anna/Zeile\nUmbruch=1" : "/home/\xff=1";
        list.add(sampleJob("Vier", 1));
        EXPECT_FALSE(list.saveJobs());
        EXPECT_EQ(list.fSaveError,
                  useIni ? "Der Job \"Zwei\" kann nicht gespeichert werden: Der Wert \"Quelle1\" "
                           "enthält einen Zeilenumbruch."
                         : "Der Job \"Zwei\" kann nicht gespeichert werden: Der Wert \"Quelle1\" "
                           "ist kein gültiger UTF-8-Text.");
        EXPECT_FALSE(list.saveJobsAndOptions());
        EXPECT_FALSE(list.deleteJob(0));
        EXPECT_EQ(list.count(), 4);
        EXPECT_EQ(list.getJob(3).fJobKey, "Job04") << "its key from the start";
        EXPECT_FALSE(list.getJob(1).saveToStorage(*options));
        EXPECT_EQ(test::readFile(file), before);
        // Nothing half-written waits for the next write either.
        list.getJob(0).fJobName = "Eins neu";
        ASSERT_TRUE(list.getJob(0).saveToStorage(*options));
        options.reset();
        auto reloaded = makeOptions();
        TCopyJobList& back = listOf(reloaded);
        ASSERT_EQ(back.loadJobs(), 3);
        EXPECT_EQ(jobNames(back), (Names{"Eins neu", "Zwei", "Drei"}));
        EXPECT_EQ(back.getJob(1).fSources, sampleJob("", 2)->fSources);
    }
}

TEST_F(JobListStorage, AnOptionThatCannotBeStoredRefusesTheSave) {
    test::writeFile(iniFile(), "");
    auto options = makeOptions();
    TCopyJobList& list = listOf(options);
    list.add(sampleJob("Eins", 1));
    ASSERT_TRUE(list.saveJobsAndOptions());
    const std::string before = test::readFile(iniFile());
    options->LastSrcDir = "/home/anna/Zeile\nUmbruch/";
    options->WinMainTop = 99;
    EXPECT_FALSE(list.saveJobsAndOptions());
    EXPECT_EQ(list.fSaveError,
              "Die Einstellungen können nicht gespeichert werden: Der Wert \"LastSrcDir\" "
              "enthält einen Zeilenumbruch.");
    options->fMessages.clear();
    EXPECT_FALSE(options->saveOptions());
    EXPECT_EQ(options->fMessages,
              (Names{"  FEHLER:  Die Einstellungen können nicht gespeichert werden.", " "}));
    EXPECT_FALSE(options->exportOptions());
    options.reset();
    EXPECT_EQ(test::readFile(iniFile()), before);
    EXPECT_FALSE(test::exists(exportFile()));
}

// A Windows program sharing the file appended one line in its own encoding.
TEST_F(JobListStorage, ALineInAnotherEncodingChangesNoOtherValue) {
    test::writeFile(iniFile(),
                    "[Job01]\nName=Büro\nLöschen=1\nVerzeichnis überspringen=Temporär\n"
                    "Name=M\xfcller\n");
    for (int round = 0; round < 2; ++round) {
        auto options = makeOptions();
        TCopyJobList& list = listOf(options);
        ASSERT_EQ(list.loadJobs(), 1);
        const TCopyJob& job = list.getJob(0);
        EXPECT_EQ(job.fJobName, "Büro");
        EXPECT_TRUE(job.fDelete) << round;
        EXPECT_EQ(job.fSkipFolders, "Temporär") << round;
        ASSERT_TRUE(list.saveJobs());
    }
    EXPECT_NE(test::readFile(iniFile()).find("\nName=Müller\n"), std::string::npos);
}

// The registry store's required values stop the reading; the others are optional.
TEST_F(JobListStorage, WhichRegistryValuesAreRequired) {
    auto options = makeOptions();
    const Names required{"AnzahlQuellen", "Startzeit", "Endzeit",
                         "Wochentag",     "Intervall", "Aktiv"};
    for (const char* name :
         {"Name", "Ziel", "AnzahlQuellen", "Quelle0", "Startzeit", "Endzeit", "Wochentag",
          "LetztesBackup", "Intervall", "Aktiv", "Löschen", "Ausschliessen", "NurDiese",
          "NurVerzeichnisInhalt", "Zeitunterschied", "Verzeichnis überspringen"}) {
        auto job = sampleJob("Fotos", 1);
        job->fJobKey = "Job01";
        ASSERT_TRUE(job->saveToStorage(*options));
        options->fRegistry->eraseValue("Job01", name);
        TCopyJob back;
        back.fJobKey = "Job01";
        const bool isRequired = std::find(required.begin(), required.end(), name) != required.end();
        EXPECT_EQ(back.loadFromStorage(*options), !isRequired) << name;
    }
}

}  // namespace
}  // namespace qvb

namespace qvb {
namespace {

// tests/jobs/data/windows.ini: written by the Windows program and edited by
// hand: CRLF, Windows-1252, names in every letter case, Job03 before job01, a
// gap at Job02, a section of another name and a second [Job01].
class WindowsFile : public JobListStorage {
  protected:
    static std::string fixedFile() {
        return test::readFile(std::string(QVB_SOURCE_DIR) + "/tests/jobs/data/windows.ini");
    }
    static TDateTime at(int day, int hour, int minute, int second) {
        return encodeDateTime({2026, 12, day, hour, minute, second, 0});
    }

    // The job of [job01] names only its destination: the INI defaults.
    static void expectDefaultsBut(const TCopyJob& job, const char* key = "job01") {
        EXPECT_EQ(job.fJobKey, key);
        EXPECT_EQ(job.fJobName, "job01");
        EXPECT_EQ(job.fDestination, "F:\\Fotos\\");
        EXPECT_TRUE(job.fSources.empty());
        EXPECT_DOUBLE_EQ(job.fStartTime, kNow);
        EXPECT_DOUBLE_EQ(job.fEndTime, kNow);
        EXPECT_EQ(job.fWeekday, 1);
        EXPECT_EQ(job.fInterval, 0);
        EXPECT_TRUE(job.fActive);
        EXPECT_FALSE(job.fDelete);
        EXPECT_DOUBLE_EQ(job.fLastBackup, kNow);
        EXPECT_EQ(job.fExclude, "");
        EXPECT_EQ(job.fIncludeOnly, "");
        EXPECT_EQ(job.fSkipFolders, "");
        EXPECT_FALSE(job.fContentOnly);
        EXPECT_EQ(job.fTimeTolerance, 2);
    }

    // [Job03] holds every value.
    static void expectEveryValue(const TCopyJob& job) {
        EXPECT_EQ(job.fJobName, "Bücher");
        EXPECT_EQ(job.fDestination, "E:\\Sicherung\\Bücher\\");
        EXPECT_EQ(job.fSources, (Names{"C:\\Bücher=1", "D:\\Archiv=0"}));
        EXPECT_DOUBLE_EQ(job.fStartTime, at(7, 8, 15, 0));
        EXPECT_DOUBLE_EQ(job.fEndTime, at(7, 17, 45, 30));
        EXPECT_EQ(job.fWeekday, 5);
        EXPECT_EQ(job.fInterval, 1);
        EXPECT_FALSE(job.fActive);
        EXPECT_TRUE(job.fDelete);
        EXPECT_DOUBLE_EQ(job.fLastBackup, at(6, 22, 0, 5));
        EXPECT_EQ(job.fExclude, "*.tmp,*.bäk");
        EXPECT_EQ(job.fIncludeOnly, "*.jpg");
        EXPECT_EQ(job.fSkipFolders, "Temporär;Cache");
        EXPECT_TRUE(job.fContentOnly);
        EXPECT_EQ(job.fTimeTolerance, 9);
    }

    static void expectOptions(const TQV_BackupOptions& o, bool logging) {
        EXPECT_EQ(o.Logging, logging);
        EXPECT_EQ(o.WinMainTop, 12);
        EXPECT_EQ(o.WinMainLeft, 34);
        EXPECT_EQ(o.WinMainHeight, 456);
        EXPECT_EQ(o.WinMainWidth, 789);
        EXPECT_EQ(o.LogLevel, 3);
        EXPECT_EQ(o.LastDestDir, "E:\\Sicherung\\");
        EXPECT_EQ(o.LastSrcDir, "C:\\Eigene Dateien\\");
        EXPECT_EQ(o.CurrentJob, 2);
    }
};

TEST_F(WindowsFile, IsReadValueByValue) {
    test::writeFile(iniFile(), fixedFile());
    auto options = makeOptions();
    ASSERT_TRUE(options->fUseIniFile);
    EXPECT_TRUE(options->fMessages.empty());
    expectOptions(*options, true);  // the program's own INI file always logs
    TCopyJobList& list = listOf(options);
    ASSERT_EQ(list.loadJobs(), 3);
    EXPECT_EQ(list.fCurrentJob, 2);
    expectDefaultsBut(list.getJob(0));
    expectEveryValue(list.getJob(1));
    const TCopyJob& other = list.getJob(2);
    EXPECT_EQ(other.fJobKey, "Zusatz");
    EXPECT_EQ(other.fJobName, "Übrig");
    EXPECT_EQ(other.fWeekday, 1);        // 0 becomes 1
    EXPECT_EQ(other.fTimeTolerance, 2);  // below 2 becomes 2
}

// Into an empty list (a new computer) every job of the file is appended;
// imported again, each finds its job by name and nothing is added.
TEST_F(WindowsFile, IsImportedValueByValue) {
    test::writeFile(exportFile(), fixedFile());
    auto options = makeOptions();
    ASSERT_TRUE(options->importOptions());
    expectOptions(*options, false);
    TCopyJobList& list = listOf(options);
    for (const int appended : {3, 0}) {
        const TImportResult result = list.importJobs();
        EXPECT_EQ(result.imported, 3);
        EXPECT_EQ(result.appended, appended);
        ASSERT_EQ(list.count(), 3);
        expectDefaultsBut(list.getJob(0), "Job01");
        expectEveryValue(list.getJob(1));
        EXPECT_EQ(list.getJob(1).fJobKey, "Job02");
        EXPECT_EQ(list.getJob(2).fWeekday, 1);
        EXPECT_EQ(list.getJob(2).fTimeTolerance, 1) << "the import sets no lower limit";
    }
}

TEST_F(WindowsFile, SavedItHoldsTheOptionsAndExactlyTheJobsOfTheList) {
    test::writeFile(iniFile(), fixedFile());
    {
        auto options = makeOptions();
        TCopyJobList& list = listOf(options);
        ASSERT_EQ(list.loadJobs(), 3);
        ASSERT_TRUE(list.saveJobsAndOptions());
        EXPECT_EQ(folded(options->fIniFile->readSections()),
                  folded({"Options", "Job01", "Job02", "Job03"}));
    }
    const std::string text = test::readFile(iniFile());
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_TRUE(text.starts_with("; QV_Backup-Einstellungen, unter Windows geschrieben"));
    EXPECT_EQ(text.find("Doppelt"), std::string::npos);
    EXPECT_EQ(text.find("[Zusatz]"), std::string::npos);
    EXPECT_NE(text.find("\r\nName=Bücher\r\n"), std::string::npos);

    auto options = makeOptions();
    TCopyJobList& list = listOf(options);
    ASSERT_EQ(list.loadJobs(), 3);
    expectDefaultsBut(list.getJob(0));
    expectEveryValue(list.getJob(1));
    EXPECT_EQ(list.getJob(2).fJobName, "Übrig");
}

// Jobs of the export file find the jobs of the list by name, by key where
// the list holds two of one name; the others are appended, and jobs the file
// does not name stay. A file that is missing or cannot be read changes nothing.
TEST_F(JobListStorage, ImportMatchesJobsByName) {
    auto options = makeOptions();
    TCopyJobList& list = listOf(options);
    for (const char* name : {"Musik", "Fotos", "Bleibt", "Doppelt", "Doppelt"})
        list.add(sampleJob(name, 1)).fDestination = std::string("/alt/") + name + "/";
    EXPECT_EQ(list.getJob(4).fJobKey, "Job05");
    const auto destinations = [&list] {
        Names shown;
        for (int i = 0; i < list.count(); ++i)
            shown.push_back(list.getJob(i).fJobKey + " " + list.getJob(i).fDestination);
        return shown;
    };
    const Names before = destinations();

    EXPECT_EQ(list.importRefusal(), "Die Exportdatei \"" + exportFile() +
                                        "\" ist nicht vorhanden.\r\nEs wurde nichts importiert.");
    ::mkdir(exportFile().c_str(), 0700);
    EXPECT_EQ(list.importRefusal(), "Die Exportdatei \"" + exportFile() +
                                        "\" kann nicht gelesen werden.\r\nEs wurde nichts "
                                        "importiert.");
    EXPECT_EQ(list.importJobs().imported, 0);
    EXPECT_EQ(destinations(), before);
    ::rmdir(exportFile().c_str());

    test::writeFile(exportFile(),
                    "[Options]\n[Job01]\nName=Fotos\nZiel=/neu/fotos/\n"
                    "[Job03]\nName=Doppelt\nZiel=/neu/d3/\n[Job04]\nName=Doppelt\nZiel=/neu/d4/\n"
                    "[Job06]\nName=Neu\nZiel=/neu/neu/\n[Job07]\nName=Musik\nZiel=/neu/musik/\n");
    EXPECT_EQ(list.importRefusal(), "");
    const TImportResult result = list.importJobs();
    EXPECT_EQ(result.imported, 5);
    EXPECT_EQ(result.appended, 1);
    EXPECT_EQ(destinations(), (Names{"Job01 /neu/musik/", "Job02 /neu/fotos/", "Job03 /alt/Bleibt/",
                                     "Job04 /neu/d4/", "Job05 /neu/d3/", "Job06 /neu/neu/"}));
    EXPECT_EQ(list.getJob(5).fJobName, "Neu");
    EXPECT_EQ(static_cast<TCopyIt*>(list.getJob(5).fCopyFolder.get()), list.getJob(5).fPassTo);
}

// A store that cannot be written refuses a deletion: the list, the keys and
// the store stay, and nothing of the deletion waits for the next write.
TEST_F(JobListStorage, ARefusedDeletionKeepsListKeysAndStore) {
    test::writeFile(iniFile(), "");
    auto options = makeOptions();
    TCopyJobList& list = listOf(options);
    for (const char* name : {"Eins", "Zwei", "Drei"}) list.add(sampleJob(name, 2));
    ASSERT_TRUE(list.saveJobsAndOptions());
    ASSERT_TRUE(list.eraseJob(1));
    const std::string before = test::readFile(iniFile());
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Rename ? EROFS : 0; });
    for (const auto& remove : std::vector<std::function<bool()>>{
             [&] { return list.deleteJob(0); }, [&] { return list.eraseJob(1); }}) {
        EXPECT_FALSE(remove());
        EXPECT_EQ(list.fSaveError,
                  "Die Einstellungen können nicht in \"" + iniFile() + "\" gespeichert werden.");
        EXPECT_EQ(jobNames(list), (Names{"Eins", "Drei"}));
        EXPECT_EQ(list.getJob(1).fJobKey, "Job03");
    }
    sys::setFaultHook({});
    EXPECT_EQ(test::readFile(iniFile()), before);
    ASSERT_TRUE(options->saveOptions());
    auto reloaded = makeOptions();
    TCopyJobList& back = listOf(reloaded);
    ASSERT_EQ(back.loadJobs(), 2);
    EXPECT_EQ(jobNames(back), (Names{"Eins", "Drei"}));
}

// Every value of the jobs and the options, through both stores.
TEST_F(JobListStorage, EveryValueRoundTripsThroughBothStores) {
    for (const bool useIni : {false, true}) {
        SCOPED_TRACE(useIni ? "ini" : "registry");
        if (useIni) test::writeFile(iniFile(), "");
        auto options = makeOptions();
        options->Logging = !useIni;
        options->WinMainTop = -5;
        options->WinMainLeft = 17;
        options->WinMainHeight = 701;
        options->WinMainWidth = 1202;
        options->LogLevel = 4;
        options->LastDestDir = "/media/usb/Sicherung ä/";
        options->LastSrcDir = "/home/anna/Bilder/";
        TCopyJobList& list = listOf(options);
        list.add(sampleJob("Fotos", 3));
        list.add(sampleJob("Musik", 0)).fSkipFolders = "";
        if (!useIni) list.getJob(1).fJobName = "Zwei\nZeilen";  // the registry keeps it
        list.fCurrentJob = 2;
        ASSERT_TRUE(list.saveJobsAndOptions());

        auto back = makeOptions();
        EXPECT_EQ(back->Logging, true);
        EXPECT_EQ(back->WinMainTop, -5);
        EXPECT_EQ(back->WinMainLeft, 17);
        EXPECT_EQ(back->WinMainHeight, 701);
        EXPECT_EQ(back->WinMainWidth, 1202);
        EXPECT_EQ(back->LogLevel, 4);
        EXPECT_EQ(back->LastDestDir, "/media/usb/Sicherung ä/");
        EXPECT_EQ(back->LastSrcDir, "/home/anna/Bilder/");
        EXPECT_EQ(back->CurrentJob, 2);
        TCopyJobList& loaded = listOf(back);
        ASSERT_EQ(loaded.loadJobs(), 2);
        EXPECT_EQ(loaded.fCurrentJob, 2);
        for (int i = 0; i < 2; ++i) expectSameRecord(loaded.getJob(i), list.getJob(i));
    }
}

}  // namespace
}  // namespace qvb
