#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/IniFile.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

TEST(IniDocument, FollowsTheWindowsProfileRules) {
    const TIniDocument doc = parseIni(
        "; Einstellungen\n"
        "[Options]\n"
        "  Logging = 1  \n"
        "LastSrcDir=\"  /home/anna/  \"\n"
        "logging=0\n"
        "[options]\n"
        "CurrentJob=7\n"
        "[ Job01 ]\n"
        "Name='Fotos'\n"
        "=ohne Schluessel\n"
        "Ziel=/media/usb=1\n");
    EXPECT_EQ(doc.sectionNames(), (std::vector<std::string>{"Options", "options", "Job01"}));
    ASSERT_TRUE(doc.find("OPTIONS", "LOGGING"));
    EXPECT_EQ(*doc.find("OPTIONS", "LOGGING"), "1");  // the first occurrence wins
    EXPECT_EQ(*doc.find("Options", "LastSrcDir"), "  /home/anna/  ");
    EXPECT_EQ(doc.find("Options", "CurrentJob"), nullptr);  // only the first section counts
    EXPECT_EQ(*doc.find("job01", "name"), "Fotos");
    EXPECT_EQ(*doc.find("Job01", "Ziel"), "/media/usb=1");
    EXPECT_EQ(doc.entryCount("Job01"), 2u);
    ASSERT_EQ(doc.fPreamble.size(), 1u);
    EXPECT_EQ(doc.fPreamble[0].text, "; Einstellungen");
}

TEST(IniDocument, EditsKeepTheRestOfTheFileAsItStands) {
    TIniDocument doc = parseIni(
        "; Kommentar\n"
        "[A]\n"
        "; zu x\n"
        "x = 1\n"
        "y=2\n"
        "\n"
        "[B]\n"
        "z=3\n");
    doc.set("a", "X", "10");        // replaced in place, spelling of the file kept
    doc.set("A", "neu", " rand ");  // appended before the blank line, quoted
    doc.set("C", "k", "\"v\"");     // new section at the end
    EXPECT_EQ(
        doc.serialize(),
        "; Kommentar\n[A]\n; zu x\nx=10\ny=2\nneu=\" rand \"\n\n[B]\nz=3\n[C]\nk=\"\"v\"\"\n");
    const TIniDocument back = parseIni(doc.serialize());
    EXPECT_EQ(*back.find("A", "neu"), " rand ");
    EXPECT_EQ(*back.find("C", "k"), "\"v\"");
}

TEST(IniDocument, RemovesEveryDuplicateSoNoneResurfaces) {
    TIniDocument doc = parseIni("[Job01]\nQuelle0=a\nquelle0=b\n[B]\nk=1\n[JOB01]\nName=alt\n");
    EXPECT_TRUE(doc.remove("job01", "QUELLE0"));
    EXPECT_EQ(doc.find("Job01", "Quelle0"), nullptr);
    EXPECT_TRUE(doc.eraseSection("job01"));
    EXPECT_FALSE(doc.hasSection("Job01"));
    EXPECT_EQ(doc.serialize(), "[B]\nk=1\n");
    EXPECT_FALSE(doc.eraseSection("Job01"));
}

TEST(IniDocument, ReadsAFileMadeOnWindows) {
    // CRLF, Windows-1252 umlauts, other letter case, backslash paths.
    const TIniDocument doc = parseIni(
        "[OPTIONS]\r\nLogLevel=4\r\n[job01]\r\nNAME=B\xfcro\r\nziel=C:\\Backup\\\r\nL\xd6SCHEN="
        "1\r\n"
        "Verzeichnis \xdc"
        "berspringen=tmp;cache\r\n");
    EXPECT_EQ(doc.fEncoding, TIniEncoding::Windows1252);
    EXPECT_TRUE(doc.fCrLf);
    EXPECT_EQ(*doc.find("Options", "LogLevel"), "4");
    EXPECT_EQ(*doc.find("Job01", "Name"), "Büro");
    EXPECT_EQ(*doc.find("Job01", "Ziel"), "C:\\Backup\\");
    ASSERT_TRUE(doc.find("Job01", "Löschen"));
    EXPECT_EQ(*doc.find("Job01", "Löschen"), "1");
    EXPECT_EQ(*doc.find("Job01", "Verzeichnis überspringen"), "tmp;cache");
    // Written back as UTF-8 with the file's own line ends.
    EXPECT_TRUE(doc.serialize().starts_with("[OPTIONS]\r\nLogLevel=4\r\n[job01]\r\n"));
    EXPECT_NE(doc.serialize().find("NAME=Büro\r\n"), std::string::npos);
    EXPECT_EQ(windows1252ToUtf8("\x80\x81\x9f"), "€\xc2\x81Ÿ");
}

TEST(IniDocument, EachLineIsReadInItsOwnEncoding) {
    // UTF-8 with one line a Windows program appended, and a Windows file
    // with one line that happens to be UTF-8.
    const TIniDocument doc = parseIni("[Job01]\nLöschen=1\nName=B\xfcro\n[Über]\nk=\x80\n");
    EXPECT_EQ(doc.fEncoding, TIniEncoding::Windows1252);
    ASSERT_TRUE(doc.find("Job01", "löschen"));
    EXPECT_EQ(*doc.find("Job01", "Name"), "Büro");
    EXPECT_EQ(*doc.find("über", "k"), "€");
    EXPECT_EQ(doc.serialize(), "[Job01]\nLöschen=1\nName=Büro\n[Über]\nk=€\n");
}

TEST(IniDocument, KeepsOnlyTheFirstSectionOfEachNameGiven) {
    TIniDocument doc =
        parseIni(";Kopf\n[Job02]\nk=2\n[options]\n[Job01]\nk=1\n[X]\n[JOB01]\nk=d\n");
    EXPECT_TRUE(doc.keepOnlySections({"Job01", "Options", "Job02", "Job03"}));
    EXPECT_EQ(doc.serialize(), ";Kopf\n[Job02]\nk=2\n[options]\n[Job01]\nk=1\n");
    EXPECT_EQ(*doc.find("job01", "K"), "1");
    EXPECT_FALSE(doc.keepOnlySections({"Job01", "Options", "Job02"}));
}

TEST(IniDocument, Utf8WithBomStaysUtf8) {
    const TIniDocument doc = parseIni("\xEF\xBB\xBF[Job01]\nName=Büro €\n");
    EXPECT_EQ(doc.fEncoding, TIniEncoding::Utf8Bom);
    EXPECT_EQ(*doc.find("Job01", "Name"), "Büro €");
    EXPECT_TRUE(doc.serialize().starts_with("\xEF\xBB\xBF[Job01]"));
    // A mark behind NUL bytes reads as a mark at once, not only after a save
    // has dropped the NULs (the first section would change otherwise).
    using namespace std::string_literals;
    const TIniDocument hidden = parseIni("\0\xEF\xBB\xBF[A]\nk=1\n[A]\nk=2\n"s);
    EXPECT_EQ(*hidden.find("A", "k"), "1");
    EXPECT_EQ(*parseIni(hidden.serialize()).find("A", "k"), "1");
    // A file with a mark and one Windows line keeps its mark on a save: without
    // it a second mark at the start of the first line would be taken for the
    // file's own, and "[A]" behind it would become a section.
    const TIniDocument mixed = parseIni("\xEF\xBB\xBF\xEF\xBB\xBF[A]\nk=1\nm\x9b=2\n");
    EXPECT_EQ(mixed.find("A", "k"), nullptr);
    EXPECT_EQ(parseIni(mixed.serialize()).find("A", "k"), nullptr);
}

TEST(IniDocument, HostileInputGivesAClearResult) {
    using namespace std::string_literals;
    std::string bytes = "[A\n[B]\nk=v\0w\0\n"s;
    bytes += "[A]\nlong=" + std::string(1 << 20, 'x') + "\n";
    bytes += "\xff\xfe broken=\xc3\n";
    const TIniDocument doc = parseIni(bytes);
    EXPECT_EQ(doc.fNulBytes, 2u);
    EXPECT_EQ(doc.fBadHeaders, 1u);  // "[A" is a plain line, not a section
    EXPECT_EQ(doc.fEncoding, TIniEncoding::Windows1252);
    EXPECT_EQ(*doc.find("B", "k"), "vw");
    EXPECT_EQ(doc.find("A", "long")->size(), size_t(1) << 20);
    EXPECT_TRUE(isValidUtf8(doc.serialize()));
    for (const char* text : {"", "]", "[", "=", "[]\n=\n;", "\r\r\r", "[\xc3]"}) parseIni(text);
}

TEST(IniDocument, ManySectionsStayFast) {
    std::string bytes;
    for (int i = 0; i < 100000; ++i)
        bytes += "[S" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    TIniDocument doc = parseIni(bytes);
    ASSERT_EQ(doc.sections().size(), 100000u);
    for (int i = 0; i < 100000; i += 997)
        ASSERT_EQ(*doc.find("s" + std::to_string(i), "K"), std::to_string(i));
    doc.set("S99999", "neu", "1");
    EXPECT_EQ(*doc.find("S99999", "neu"), "1");
}

TEST(IniValues, NumbersAndNamesThatCannotBeStored) {
    EXPECT_EQ(parseIniInteger(" 42 ", 7), 42);
    EXPECT_EQ(parseIniInteger("-3", 7), -3);
    EXPECT_EQ(parseIniInteger("+3", 7), 3);
    for (const char* bad : {"", "12abc", "1.5", "0x10", "99999999999", "eins"})
        EXPECT_EQ(parseIniInteger(bad, 7), 7) << bad;
    EXPECT_FALSE(isStorableIniValue("a\nb"));
    EXPECT_FALSE(isStorableIniValue(std::string("a\0b", 3)));
    EXPECT_FALSE(isStorableIniValue("\xff"));
    EXPECT_TRUE(isStorableIniValue("C:\\Daten=1"));
    EXPECT_FALSE(isStorableIniName("a=b", false));
    EXPECT_FALSE(isStorableIniName(";a", false));
    EXPECT_FALSE(isStorableIniName("", false));
    EXPECT_FALSE(isStorableIniName("Job]", true));
    EXPECT_TRUE(isStorableIniName("Verzeichnis überspringen", false));
}

class IniFileTest : public ::testing::Test {
  protected:
    void TearDown() override { sys::setFaultHook({}); }
    test::TempDir dir;
    std::string file = dir / "QV_Backup.ini";
};

TEST_F(IniFileTest, TypedValuesRoundTripThroughTheFile) {
    const TDateTime when = encodeDateTime({2026, 12, 7, 14, 30, 0, 0});
    {
        TIniFile ini(file);
        EXPECT_FALSE(ini.exists());
        EXPECT_TRUE(ini.writeString("Job01", "Name", "Fotos"));
        EXPECT_TRUE(ini.writeInteger("Job01", "Intervall", -2));
        EXPECT_TRUE(ini.writeBool("Job01", "Aktiv", true));
        EXPECT_TRUE(ini.writeDateTime("Job01", "Startzeit", when));
        EXPECT_FALSE(ini.writeString("Job01", "Quelle0", "/a\nb=1"));
        EXPECT_TRUE(ini.updateFile());
    }
    EXPECT_EQ(test::readFile(file),
              "[Job01]\nName=Fotos\nIntervall=-2\nAktiv=1\nStartzeit=07.12.2026 14:30:00\n");
    TIniFile ini(file);
    EXPECT_EQ(ini.readString("job01", "name", "x"), "Fotos");
    EXPECT_EQ(ini.readInteger("Job01", "Intervall", 0), -2);
    EXPECT_TRUE(ini.readBool("Job01", "Aktiv", false));
    EXPECT_DOUBLE_EQ(ini.readDateTime("Job01", "Startzeit", 0), when);
    EXPECT_EQ(ini.readString("Job01", "fehlt", "x"), "x");
    test::writeFile(file, "[Job01]\nStartzeit=gestern\nAktiv=ja\n");
    EXPECT_DOUBLE_EQ(ini.readDateTime("Job01", "Startzeit", 5.5),
                     5.5);  // changed file is read again
    EXPECT_TRUE(ini.readBool("Job01", "Aktiv", true));
    EXPECT_FALSE(ini.readBool("Job01", "Aktiv", false));
}

TEST_F(IniFileTest, AFailedSaveLeavesThePreviousFileIntact) {
    for (const sys::Op failing : {sys::Op::Open, sys::Op::Write, sys::Op::Fsync, sys::Op::Rename}) {
        test::writeFile(file, "[Options]\nLogLevel=1\n");
        {
            TIniFile ini(file);
            ASSERT_TRUE(ini.writeInteger("Options", "LogLevel", 4));
            sys::setFaultHook(
                [failing](sys::Op op, const char*) { return op == failing ? ENOSPC : 0; });
            EXPECT_FALSE(ini.updateFile());
            sys::setFaultHook({});
            EXPECT_EQ(test::readFile(file), "[Options]\nLogLevel=1\n");
        }
        // The change was still pending and went out when the object went.
        EXPECT_EQ(test::readFile(file), "[Options]\nLogLevel=4\n");
    }
    int entries = 0;  // no temporary file is left behind
    DIR* d = ::opendir(dir.path().c_str());
    while (dirent* e = ::readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++entries;
    ::closedir(d);
    EXPECT_EQ(entries, 1);
}

TEST_F(IniFileTest, SaveReplacesTheFileByRenameAndKeepsItsMode) {
    test::writeFile(file, "[Options]\nLogLevel=1\n");
    ::chmod(file.c_str(), 0600);
    struct stat before {};
    ::stat(file.c_str(), &before);
    TIniFile ini(file);
    ASSERT_TRUE(ini.writeInteger("Options", "LogLevel", 2));
    ASSERT_TRUE(ini.updateFile());
    struct stat after {};
    ::stat(file.c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
}

TEST_F(IniFileTest, AFileThatCannotBeReadIsNeverOverwritten) {
    test::writeFile(file, "[Options]\nLogLevel=3\n");
    TIniFile ini(file);
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Open ? EACCES : 0; });
    EXPECT_FALSE(ini.readable());
    EXPECT_EQ(ini.readInteger("Options", "LogLevel", 1), 1);
    sys::setFaultHook({});
    ini.writeInteger("Options", "WinMainTop", 5);
    EXPECT_FALSE(ini.updateFile());
    EXPECT_EQ(test::readFile(file), "[Options]\nLogLevel=3\n");
    ini.clear();  // a deliberate replacement (the export) is allowed
    EXPECT_TRUE(ini.updateFile());
    EXPECT_EQ(test::readFile(file), "");
}

// What a replace killed before its rename leaves: only the files of this
// settings file whose process is gone are removed.
TEST_F(IniFileTest, TemporaryFilesOfAKilledSaveAreRemoved) {
    const pid_t gone = 2147483646;  // above any pid_max
    const std::string stale = dir / (".QV_Backup.ini." + std::to_string(gone) + "-3.tmp");
    const std::vector<std::string> kept{
        dir / (".QV_Backup.ini." + std::to_string(::getpid()) + "-0.tmp"),
        dir / (".QV_Backup.ini." + std::to_string(::getppid()) + "-1.tmp"),
        dir / (".Anderes.ini." + std::to_string(gone) + "-1.tmp"),
        dir / (".QV_Backup.ini." + std::to_string(gone) + "-x.tmp"),
        dir / (".QV_Backup.ini." + std::to_string(gone) + ".tmp"),
        dir / ("QV_Backup.ini." + std::to_string(gone) + "-1.tmp")};
    test::writeFile(file, "[A]\n");
    test::writeFile(stale, "[A]\nhalb");
    for (const auto& path : kept) test::writeFile(path, "");
    EXPECT_EQ(removeStaleTemporaries(file), 1u);
    EXPECT_FALSE(test::exists(stale));
    for (const auto& path : kept) EXPECT_TRUE(test::exists(path)) << path;
    EXPECT_EQ(test::readFile(file), "[A]\n");
    EXPECT_EQ(removeStaleTemporaries(dir / "fehlt/QV_Backup.ini"), 0u);
}

TEST_F(IniFileTest, WritesThroughASymbolicLinkToItsTarget) {
    const std::string target = dir / "echt.ini";
    test::writeFile(target, "[A]\n");
    ASSERT_EQ(::symlink(target.c_str(), file.c_str()), 0);
    TIniFile ini(file);
    ini.writeString("A", "k", "v");
    ASSERT_TRUE(ini.updateFile());
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::readFile(target), "[A]\nk=v\n");
}

}  // namespace
}  // namespace qvb
