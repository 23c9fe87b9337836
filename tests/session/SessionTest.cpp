#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "platform/DataFolder.h"
#include "platform/IniFile.h"
#include "session/Session.h"
#include "support/SettingsSandbox.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

TEST(Session, TheProtocolTakesTheSettingsFilesPlaceWithItsLastExtensionReplaced) {
    const struct {
        const char* settings;
        const char* protocol;
    } cases[] = {
        {"/x/qvb.ini", "/x/qvb.log"},
        {"/x/.qvb", "/x/.qvb.log"},
        {"/x/a.b.ini", "/x/a.b.log"},
        {"/x/.qvb.ini", "/x/.qvb.log"},
        {"/x.d/settings", "/x.d/settings.log"},
        {"/x/qvb.", "/x/qvb.log"},
        {"qvb.ini", "qvb.log"},
        {".qvb", ".qvb.log"},
    };
    for (const auto& c : cases) EXPECT_EQ(protocolFileBeside(c.settings), c.protocol) << c.settings;
}

// Two jobs share a name; the session runs one, stores what the run changed
// and saves the protocol beside the settings it was given.
TEST(Session, FindsRunsAndStoresJobsOfOneSettingsFile) {
    test::SettingsSandbox sandbox;
    test::TempDir dir;
    const std::string ini = dir / ".qvb";
    ::mkdir((dir / "quelle").c_str(), 0700);
    test::buildTree(dir / "quelle/", {test::file("a.txt", "eins")});
    setProgramIniFile(ini);
    {
        TQV_BackupOptions options;
        options.Logging = true;
        TCopyJobList list(&options);
        for (const char* name : {"Fotos", "Fotos", "Texte"}) {
            auto job = std::make_unique<TCopyJob>();
            job->fJobName = name;
            job->fSources = {makeSourceEntry(dir / "quelle/", true)};
            job->setDestination(dir / "ziel/");
            list.add(std::move(job));
        }
        ASSERT_TRUE(list.saveJobsAndOptions());
    }
    TSession session(ini);
    ASSERT_EQ(session.open(), "");
    std::string error;
    EXPECT_EQ(session.findJob("Fotos", error), nullptr);
    EXPECT_EQ(error,
              "Mehrere Jobs heißen \"Fotos\": Job01, Job02. Bitte den Job mit seinem Schlüssel "
              "angeben.");
    EXPECT_EQ(session.findJob("Nichts", error), nullptr);
    EXPECT_EQ(error, "Unbekannter Job: \"Nichts\"");
    EXPECT_EQ(session.findJob("Job02", error), &session.jobs().getJob(1));
    TCopyJob* job = session.findJob("Texte", error);
    ASSERT_EQ(job, &session.jobs().getJob(2));

    // Changed in the file meanwhile: a run's store keeps it.
    TIniFile(ini).writeString("Job03", "Name", "Briefe");
    ASSERT_TRUE(session.runJob(*job, TRunKind::Backup, TAnswers::Unattended));
    ASSERT_TRUE(session.storeRunResult(*job));
    TIniFile stored(ini);
    EXPECT_EQ(stored.readString("Job03", "Name", ""), "Briefe");
    EXPECT_NEAR(stored.readDateTime("Job03", "LetztesBackup", 0), job->fLastBackup,
                2e-5);  // whole seconds
    EXPECT_EQ(stored.readString("Job03", "LetztesZiel", ""), dir / "ziel/");
    EXPECT_NEAR(stored.readDateTime("Job03", "LetzterFehlerfreierLauf", 0), job->fLastBackup, 2e-5);

    EXPECT_EQ(session.protocolFile(), ini + ".log");
    ASSERT_TRUE(session.protocolWanted());
    EXPECT_EQ(session.saveProtocol(), "");
    struct stat st {};
    EXPECT_EQ(::stat((ini + ".log").c_str(), &st), 0);
}

TEST(Session, UnreadableSettingsAreNamedAndNothingIsLoaded) {
    test::SettingsSandbox sandbox;
    test::TempDir dir;
    const std::string ini = dir / "qvb.ini";
    ::mkdir(ini.c_str(), 0700);  // a folder where the file should be
    TSession session(ini);
    EXPECT_EQ(session.open(), "Die Einstellungen in \"" + ini + "\" können nicht gelesen werden.");
}

}  // namespace
}  // namespace qvb
