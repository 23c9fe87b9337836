#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace qvb {
namespace {

TParsedCommandLine parse(std::vector<std::string> args) {
    return parseCommandLine(args);
}

TEST(CommandLine, CommandsWithTheirOptions) {
    EXPECT_EQ(parse({}).line.command, TCommand::Window);
    EXPECT_EQ(parse({"--help"}).line.command, TCommand::Help);
    auto window = parse({"--ini", "/x/a.ini"});
    ASSERT_TRUE(window.ok) << window.error;
    EXPECT_EQ(window.line.command, TCommand::Window);
    EXPECT_EQ(window.line.iniFile, "/x/a.ini");
    EXPECT_EQ(parse({"--version"}).line.command, TCommand::Version);

    auto run = parse({"--ini", "/x/a.ini", "--run", "Job01", "Mein Job", "Job03"});
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.line.command, TCommand::Run);
    EXPECT_EQ(run.line.iniFile, "/x/a.ini");
    EXPECT_EQ(run.line.jobs, (std::vector<std::string>{"Job01", "Mein Job", "Job03"}));

    // The job list ends at the next option.
    run = parse({"--run", "Job01", "--ini", "b.ini"});
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.line.jobs, (std::vector<std::string>{"Job01"}));
    EXPECT_EQ(run.line.iniFile, "b.ini");

    // The preview belongs to the run and may stand before or after it.
    run = parse({"--run", "Job01", "--preview"});
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_TRUE(run.line.preview);
    EXPECT_EQ(run.line.jobs, (std::vector<std::string>{"Job01"}));
    EXPECT_TRUE(parse({"--preview", "--run", "Job01"}).line.preview);
    EXPECT_FALSE(parse({"--run", "Job01"}).line.preview);
    EXPECT_TRUE(parse({"--run", "Job01", "--unattended"}).line.unattended);

    // The job of --history is optional.
    EXPECT_TRUE(parse({"--history"}).line.jobs.empty());
    auto history = parse({"--history", "Fotos", "--ini", "a.ini"});
    ASSERT_TRUE(history.ok) << history.error;
    EXPECT_EQ(history.line.command, TCommand::History);
    EXPECT_EQ(history.line.jobs, (std::vector<std::string>{"Fotos"}));
    EXPECT_FALSE(parse({"--history", "A", "B"}).ok);
    EXPECT_EQ(parse({"--ini", "a.ini", "--show-protocol", "/p/x.log"}).line.showProtocol,
              "/p/x.log");
    EXPECT_EQ(parse({"--list", "--show-protocol", "x.log"}).error,
              "Die Option --show-protocol gilt nur ohne Befehl (für das Fenster).");

    auto test = parse({"--selftest", "--dest-root", "/d", "--source-root", "/s"});
    ASSERT_TRUE(test.ok) << test.error;
    EXPECT_EQ(test.line.command, TCommand::SelfTest);
    EXPECT_EQ(test.line.sourceRoot, "/s");
    EXPECT_EQ(test.line.destRoot, "/d");
}

TEST(CommandLine, UsageErrorsAreExplainedInGerman) {
    EXPECT_EQ(parse({"--bogus"}).error, "Unbekannte Option: --bogus");
    EXPECT_EQ(parse({"Job01"}).error, "Unbekannte Option: Job01");
    EXPECT_EQ(parse({"--run"}).error, "Die Option --run erwartet mindestens einen Job.");
    EXPECT_EQ(parse({"--run", "--list"}).error, "Die Option --run erwartet mindestens einen Job.");
    EXPECT_EQ(parse({"--list", "--ini"}).error, "Die Option --ini erwartet einen Pfad.");
    EXPECT_EQ(parse({"--list", "--ini", ""}).error, "Die Option --ini erwartet einen Pfad.");
    EXPECT_EQ(parse({"--ini", "a", "--ini", "b", "--list"}).error,
              "Die Option --ini ist mehrfach angegeben.");
    EXPECT_FALSE(parse({"--list", "--run", "Job01"}).ok);
    EXPECT_FALSE(parse({"--list", "--list"}).ok);
    EXPECT_EQ(parse({"--list", "--preview"}).error,
              "Die Option --preview gilt nur mit --run oder --restore.");
    EXPECT_EQ(parse({"--unattended"}).error, "Die Option --unattended gilt nur mit --run.");
    EXPECT_FALSE(parse({"--help", "--ini", "a.ini"}).ok);
    EXPECT_FALSE(parse({"--version", "--ini", "a.ini"}).ok);
    EXPECT_FALSE(parse({"--list", "--source-root", "/s"}).ok);
    EXPECT_FALSE(parse({"--source-root", "/s"}).ok) << "the window has no self-test roots";
}

// After --restore, --version names a version; the job comes first, paths
// may stand between the options.
TEST(CommandLine, VersionsAndRestore) {
    const struct {
        std::vector<std::string> args;
        const char* error;  // "" when it parses
        std::vector<std::string> paths;
        const char* version;
        const char* to;
    } cases[] = {
        {{"--versions", "Job01"}, "", {}, "", ""},
        {{"--versions", "Job01", "/a/b"}, "", {"/a/b"}, "", ""},
        {{"--restore", "Job01", "--version", "täglich/d_02", "/a", "/b", "--to", "/t",
          "--overwrite", "--preview"},
         "",
         {"/a", "/b"},
         "täglich/d_02",
         "/t"},
        {{"--restore", "Fotos", "/a", "--version", "."}, "", {"/a"}, ".", ""},
        {{"--versions"}, "Die Option --versions erwartet einen Job.", {}, "", ""},
        {{"--versions", "J", "/a", "/b"},
         "Die Option --versions nimmt höchstens einen Pfad.",
         {},
         "",
         ""},
        {{"--restore", "J"}, "Die Option --restore erwartet mindestens einen Pfad.", {}, "", ""},
        {{"--restore", "J", "/a", "--version"},
         "Die Option --version erwartet nach --restore eine Version.",
         {},
         "",
         ""},
        {{"--run", "J", "--to", "/t"},
         "Die Optionen --to und --overwrite gelten nur mit --restore.",
         {},
         "",
         ""},
        {{"--versions", "J", "--overwrite"},
         "Die Optionen --to und --overwrite gelten nur mit --restore.",
         {},
         "",
         ""},
    };
    for (const auto& c : cases) {
        const TParsedCommandLine parsed = parse(c.args);
        EXPECT_EQ(parsed.error, c.error) << c.args[0] << " " << c.args.size();
        if (!parsed.ok) continue;
        EXPECT_EQ(parsed.line.jobs.size(), 1u);
        EXPECT_EQ(parsed.line.paths, c.paths);
        EXPECT_EQ(parsed.line.versionName, c.version);
        EXPECT_EQ(parsed.line.toDir, c.to);
    }
    EXPECT_EQ(parse({"--version"}).line.command, TCommand::Version);
}

}  // namespace
}  // namespace qvb
