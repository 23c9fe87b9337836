#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <thread>

#include "engine/DirWalk.h"
#include "engine/FindFile.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"
#include "util/Sys.h"

using namespace qvb;
using namespace qvb::test;

namespace {

struct FindFileTest : ::testing::Test {
    TempDir tmp;
    TFindFile find;
    std::vector<std::string> found;  // paths below tmp, in report order
    std::vector<std::string> folders;

    void SetUp() override {
        find.OnFileMatch = [this](TFindFile&, const TFileDetails& f) {
            found.push_back((f.Folder + f.FileName).substr(tmp.path().size()));
        };
        find.OnFolderChange = [this](TFindFile&, const std::string& folder, TFolderIgnore&) {
            folders.push_back(folder.substr(std::min(folder.size(), tmp.path().size())));
        };
    }
    void TearDown() override { sys::setFaultHook({}); }

    std::vector<std::string> search() {
        found.clear();
        folders.clear();
        find.StartSearch();
        std::vector<std::string> sorted = found;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST(TargetPaths, PrefixGrammarAndMerging) {
    TFileCriteria c;
    c.setFileName("*.txt;*.TXT;*.doc");
    c.setLocation("/A;/A/; /a ;2-4>/lv/;3>/max;</flat;x>/bad");
    c.setPaths({"/paths/Data", "  ", "1>/A/*.c"});
    const TTargetPaths& t = c.GetTargetPaths();
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0].Folder, "/A/");
    EXPECT_EQ(t[0].FileMasks, (Strings{"*.txt", "*.doc", "*.txt", "*.doc", "*.c"}));
    EXPECT_EQ(t[0].MaxLevel, 1) << "a later item's levels win";
    EXPECT_EQ(t[1].Folder, "/a/") << "folders differing in case are different here";
    EXPECT_EQ(t[2].Folder, "/lv/");
    EXPECT_EQ(t[2].MinLevel, 2);
    EXPECT_EQ(t[2].MaxLevel, 4);
    EXPECT_EQ(t[3].MaxLevel, 3);
    EXPECT_EQ(t[3].MinLevel, 0);
    EXPECT_FALSE(t[4].Subfolders);
    EXPECT_EQ(t[4].Folder, "/flat/");
    EXPECT_EQ(t[5].Folder, "/bad/");
    EXPECT_EQ(t[5].MaxLevel, 0) << "a level that is no number keeps its value";
    EXPECT_EQ(t[6].Folder, "/paths/");
    EXPECT_EQ(t[6].FileMasks, Strings{"Data"});
    EXPECT_TRUE(t[1].Subfolders);
    c.setSubfolders(false);
    const TTargetPaths& again = c.GetTargetPaths();
    ASSERT_EQ(again.size(), 7u);
    EXPECT_FALSE(again[1].Subfolders) << "a change rebuilds the targets";
}

TEST(TargetPaths, RelativeFolderIsExpandedAndEmptyMaskMeansAll) {
    TFileCriteria c;
    c.setLocation("rel/../here");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(c.GetTargetPaths().size(), 1u);
    EXPECT_EQ(c.GetTargetPaths()[0].Folder, std::string(cwd) + "/here/");
    EXPECT_EQ(c.GetTargetPaths()[0].FileMasks, Strings{"*.*"});
}

TEST(TargetPaths, NoFolderMeansTheCurrentOne) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const std::string here = std::string(cwd) + "/";
    TFileCriteria c;
    c.setPaths({"*.txt"});
    c.setLocation(">");
    ASSERT_EQ(c.GetTargetPaths().size(), 1u);
    EXPECT_EQ(c.GetTargetPaths()[0].Folder, here);
    EXPECT_EQ(c.GetTargetPaths()[0].FileMasks, (Strings{"*.*", "*.txt"}));
}

TEST(TargetPaths, LiteralFolderKeepsPrefixCharactersAndSeparators) {
    TFileCriteria c;
    c.setLiteralFolder("/x/2>a;b<c");
    c.setSubfolders(false);
    ASSERT_EQ(c.GetTargetPaths().size(), 1u);
    EXPECT_EQ(c.GetTargetPaths()[0].Folder, "/x/2>a;b<c/");
    EXPECT_FALSE(c.GetTargetPaths()[0].Subfolders);
    EXPECT_EQ(c.GetTargetPaths()[0].MaxLevel, 0);
}

TEST(MaskRule, MatchesThePathBelowTheLiteralFolder) {
    TFileCriteria c;
    c.setLiteralFolder("/base");
    c.setMaskRule("", "*.tmp; /sub/*.log, Makefile");
    EXPECT_FALSE(c.AcceptFileName("/base/deep/", "a.TMP"));
    EXPECT_FALSE(c.AcceptFileName("/base/sub/", "x.log"));
    EXPECT_TRUE(c.AcceptFileName("/base/other/sub/", "x.log"))
        << "a mask with / starts at the base";
    EXPECT_FALSE(c.AcceptFileName("/base/", "makefile"));
    EXPECT_TRUE(c.AcceptFileName("/base/", "a.txt"));
    c.setMaskRule("*.txt", "*.tmp");
    EXPECT_TRUE(c.AcceptFileName("/base/d/", "a.txt"));
    EXPECT_FALSE(c.AcceptFileName("/base/d/", "a.doc")) << "include-only leaves out the rest";
    c.Filters = {"<*/d/*"};
    EXPECT_FALSE(c.AcceptFileName("/base/d/", "a.txt")) << "filter rules still apply";
    c.setLiteralFolder("/base/");
    c.Filters.clear();
    EXPECT_FALSE(c.AcceptFileName("/base/d/", "a.doc")) << "the base's own slash changes nothing";
    c.Clear();
    EXPECT_TRUE(c.AcceptFileName("/base/d/", "a.doc")) << "a cleared rule accepts everything";
    EXPECT_TRUE(c.GetTargetPaths().empty());
}

TEST(FilterRules, FirstMatchingRuleDecides) {
    TFileCriteria c;
    c.Filters = {">*.doc", "*.do*"};
    EXPECT_TRUE(c.AcceptFileName("/d/", "x.doc"));
    EXPECT_FALSE(c.AcceptFileName("/d/", "x.dot"));
    EXPECT_TRUE(c.AcceptFileName("/d/", "x.txt"));
    c.Filters = {"*."};
    EXPECT_FALSE(c.AcceptFileName("/d/", "README"));
    EXPECT_TRUE(c.AcceptFileName("/d/", "a.txt"));
    c.Filters = {">*.txt"};
    EXPECT_TRUE(c.AcceptFileName("/d/", "a.bin")) << "an include rule never rejects";
    c.Filters = {"<*/TEMP/*"};
    EXPECT_FALSE(c.AcceptFileName("/x/temp/", "a.txt"));
}

TEST(Criteria, AttributesByIndexAndMasks) {
    TAttributesCriteria a;
    EXPECT_EQ(a.UnsetMask, 0x16u);
    EXPECT_EQ(a.get(aiHidden), fsUnset);
    a.set(aiHidden, fsSet);
    EXPECT_EQ(a.SetMask, 0x2u);
    EXPECT_EQ(a.UnsetMask, 0x14u);
    a.set(aiHidden, static_cast<TFileAttributeStatus>(9));
    EXPECT_EQ(a.get(aiHidden), fsIgnore);
    a.set(aiReadonly, fsAnySet);
    a.set(aiReparsePoint, fsAnySet);
    EXPECT_TRUE(a.Matches(faReparsePoint));
    EXPECT_FALSE(a.Matches(faNormal));
    EXPECT_FALSE(a.Matches(faReadOnly | faDirectory));
    a.Clear();
    a.set(aiReadonly, fsAnyUnset);
    a.set(aiHidden, fsAnyUnset);
    EXPECT_TRUE(a.Matches(faReadOnly));
    EXPECT_FALSE(a.Matches(faReadOnly | faHidden));

    struct stat st {};
    st.st_mode = S_IFREG | 0444;
    EXPECT_EQ(fileAttributes(".x", st), faReadOnly | faHidden);
    st.st_mode = S_IFLNK | 0777;
    EXPECT_EQ(fileAttributes("l", st), faReparsePoint);
    st.st_mode = S_IFIFO | 0644;
    EXPECT_EQ(fileAttributes("p", st), faDevice);
    st.st_mode = S_IFREG | 0644;
    EXPECT_EQ(fileAttributes("f", st), faNormal);
}

TEST(Criteria, DateBoundsAndSizes) {
    const TDateTime day = encodeDate(2026, 3, 15);
    const TDateTime value = day + encodeTime(14, 30, 0);
    EXPECT_TRUE(MatchesDateBounds(day, 0, value)) << "a pure date compares with the date part";
    EXPECT_FALSE(MatchesDateBounds(day - 1, 0, value));
    EXPECT_TRUE(MatchesDateBounds(0, day, value));
    EXPECT_TRUE(MatchesDateBounds(encodeTime(15, 0, 0), encodeTime(14, 0, 0), value));
    EXPECT_FALSE(MatchesDateBounds(encodeTime(14, 0, 0), 0, value)) << "a pure time of day";
    EXPECT_TRUE(MatchesDateBounds(value, value, value)) << "bounds are inclusive";
    EXPECT_FALSE(MatchesDateBounds(value - kOneSecond, 0, value));
    TSizeCriteria s;
    s.Min = 10;
    s.Max = 20;
    EXPECT_TRUE(s.Matches(10));
    EXPECT_TRUE(s.Matches(20));
    EXPECT_FALSE(s.Matches(21));
    EXPECT_FALSE(s.Matches(9));
    s.Clear();
    EXPECT_TRUE(s.Matches(0));
}

TEST_F(FindFileTest, LevelLimitsAndMasks) {
    buildTree(tmp.path(), {file("a.txt"), file("a.doc"), file("s/b.txt"), file("s/t/c.txt")});
    find.Criteria.Files.setLocation(tmp.path());
    EXPECT_EQ(search(), (Strings{"a.doc", "a.txt", "s/b.txt", "s/t/c.txt"}));
    EXPECT_EQ(folders, (Strings{"", "s/", "s/t/"})) << "each folder before what is below it";
    find.Criteria.Files.setMaxLevel(1);
    EXPECT_EQ(search(), (Strings{"a.doc", "a.txt"}));
    find.Criteria.Files.setMaxLevel(2);
    EXPECT_EQ(search(), (Strings{"a.doc", "a.txt", "s/b.txt"}));
    find.Criteria.Files.setMaxLevel(0);
    find.Criteria.Files.setMinLevel(2);
    EXPECT_EQ(search(), (Strings{"s/b.txt", "s/t/c.txt"}));
    find.Criteria.Files.setMinLevel(0);
    find.Criteria.Files.setFileName("*.txt;*.TXT");
    EXPECT_EQ(search(), (Strings{"a.txt", "s/b.txt", "s/t/c.txt"}));
    find.Criteria.Files.setFileName("*.txt;*.*");
    EXPECT_EQ(search(),
              (Strings{"a.doc", "a.txt", "a.txt", "s/b.txt", "s/b.txt", "s/t/c.txt", "s/t/c.txt"}))
        << "a file matching two masks is reported once per mask";
    find.Criteria.Files.setFileName("");
    find.Criteria.Files.setLocation("<" + tmp.path());
    EXPECT_EQ(search(), (Strings{"a.doc", "a.txt"}));
}

TEST_F(FindFileTest, DefaultAttributesHideDotEntriesAndFolders) {
    buildTree(tmp.path(), {file("a"), file(".hidden"), file(".cfg/x"), file("sub/y")});
    find.Criteria.Files.setLocation(tmp.path());
    EXPECT_EQ(search(), (Strings{"a", "sub/y"}));
    find.Criteria.Attributes.Clear();
    EXPECT_EQ(search(), (Strings{".cfg", ".cfg/x", ".hidden", "a", "sub", "sub/y"}))
        << "after Clear folders are reported too";
}

TEST_F(FindFileTest, LinksAreReportedNeverFollowedAndFifosNeverOpened) {
    buildTree(tmp.path(),
              {file("d/f.txt", "needle"), test::link("d/loop", "."), test::link("d/up", "..")});
    ASSERT_EQ(::mkfifo((tmp / "d/pipe").c_str(), 0644), 0);
    find.Criteria.Files.setLocation(tmp.path());
    std::vector<uint32_t> attrs;
    find.OnFileMatch = [&](TFindFile&, const TFileDetails& f) {
        found.push_back(f.FileName);
        attrs.push_back(f.Attributes);
    };
    EXPECT_EQ(search(), (Strings{"f.txt", "loop", "pipe", "up"}));
    EXPECT_EQ(folders.size(), 2u);
    find.Criteria.Content.setPhrase("needle");
    EXPECT_EQ(search(), Strings{"f.txt"}) << "links and FIFOs hold no content";
}

TEST_F(FindFileTest, FolderDecisionsOfTheHandler) {
    buildTree(tmp.path(), {file("a"), file("x/b"), file("x/y/c"), file("z/d")});
    find.Criteria.Files.setLocation(tmp.path());
    TFolderIgnore answer = fiNone;
    find.OnFolderChange = [&](TFindFile&, const std::string& folder, TFolderIgnore& ignore) {
        EXPECT_EQ(ignore, fiNone);
        folders.push_back(folder.substr(tmp.path().size()));
        if (folder == tmp / "x/") ignore = answer;
    };
    answer = fiThisAndSubfolders;
    EXPECT_EQ(search(), (Strings{"a", "z/d"}));
    EXPECT_NE(std::find(folders.begin(), folders.end(), "x/"), folders.end());
    answer = fiJustThis;
    EXPECT_EQ(search(), (Strings{"a", "x/y/c", "z/d"}));
    answer = fiJustSubfolders;
    EXPECT_EQ(search(), (Strings{"a", "x/b", "z/d"}));
}

TEST_F(FindFileTest, DetailsAreReadOnlyForEntriesThatMayMatch) {
    std::vector<TNode> nodes;
    for (int i = 0; i < 20; ++i) {
        nodes.push_back(file("d" + std::to_string(i) + "/a.txt"));
        nodes.push_back(file("skip" + std::to_string(i) + ".bin"));
    }
    buildTree(tmp.path(), nodes);
    find.Criteria.Files.setLocation(tmp.path());
    find.Criteria.Files.setMaskRule("", "*.bin");
    find.Criteria.Files.setFileName("*.txt;*.*");
    std::map<std::string, int> stats;
    sys::setFaultHook([&](sys::Op op, const char* path) {
        if (op == sys::Op::Stat && path != nullptr && path[0] != '/') ++stats[path];
        return 0;
    });
    EXPECT_EQ(search().size(), 40u) << "two masks, each file reported twice";
    sys::setFaultHook({});
    EXPECT_EQ(stats, (std::map<std::string, int>{{"a.txt", 20}}))
        << "each file read once; neither folders nor masked-out files at all";
}

TEST_F(FindFileTest, UnreadableEntriesAreReportedOncePerFolder) {
    buildTree(tmp.path(), {file("d/a"), file("d/b"), file("e/c")});
    find.Criteria.Files.setLocation(tmp.path());
    std::vector<std::string> errors;
    find.OnReadError = [&](TFindFile&, const std::string& folder, int err) {
        errors.push_back(folder.substr(tmp.path().size()) + ":" + std::to_string(err));
    };
    sys::setFaultHook([](sys::Op op, const char* path) {
        return op == sys::Op::Stat && path != nullptr && path[0] != '/' && path[0] != 'c' ? EIO : 0;
    });
    EXPECT_EQ(search(), Strings{"e/c"});
    EXPECT_EQ(errors, Strings{"d/:" + std::to_string(EIO)});
}

TEST_F(FindFileTest, UnlistableTargetIsAnnouncedAndReportsNothing) {
    find.Criteria.Files.setLocation((tmp / "missing/") + ";" + tmp.path());
    buildTree(tmp.path(), {file("a")});
    EXPECT_EQ(search(), Strings{"a"});
    EXPECT_EQ(folders, (Strings{"missing/", ""}));
}

TEST_F(FindFileTest, BusyAbortAndExceptions) {
    buildTree(tmp.path(), {file("a"), file("b"), file("s/c")});
    find.Criteria.Files.setLocation(tmp.path());
    int finished = 0;
    find.OnSearchFinish = [&](TFindFile& f) {
        EXPECT_FALSE(f.Busy());
        ++finished;
    };
    find.AbortSearch();
    EXPECT_FALSE(find.Aborted()) << "aborting an idle search does nothing";
    find.OnFileMatch = [&](TFindFile& f, const TFileDetails& d) {
        found.push_back(d.FileName);
        f.StartSearch();  // ignored while busy
        f.AbortSearch();
    };
    search();
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(finished, 1);
    find.OnFileMatch = [](TFindFile&, const TFileDetails&) { throw std::runtime_error("boom"); };
    EXPECT_THROW(find.StartSearch(), std::runtime_error);
    EXPECT_FALSE(find.Busy());
    EXPECT_EQ(finished, 2);
}

TEST_F(FindFileTest, ThreadedSearchFinishesInTheOwnersThread) {
    buildTree(tmp.path(), {file("a"), file("s/b")});
    RecordingUserInterface ui;
    find.Criteria.Files.setLocation(tmp.path());
    find.Threaded = true;
    const std::thread::id self = std::this_thread::get_id();
    std::atomic<int> workerMatches{0};
    find.OnFileMatch = [&](TFindFile&, const TFileDetails&) {
        if (std::this_thread::get_id() != self) ++workerMatches;
    };
    bool finished = false;
    find.OnSearchFinish = [&](TFindFile&) {
        EXPECT_EQ(std::this_thread::get_id(), self);
        finished = true;
    };
    find.StartSearch();
    for (int i = 0; i < 100000 && !finished; ++i) {
        processPendingEvents();
        std::this_thread::yield();
    }
    EXPECT_TRUE(finished);
    EXPECT_EQ(workerMatches.load(), 2);
    EXPECT_FALSE(find.Busy());
}

TEST_F(FindFileTest, DestroyingARunningThreadedSearchWaitsForIt) {
    std::vector<TNode> nodes;
    for (int i = 0; i < 50; ++i) nodes.push_back(file("d" + std::to_string(i) + "/f"));
    buildTree(tmp.path(), nodes);
    int finished = 0;
    {
        TFindFile threaded;
        threaded.Criteria.Files.setLocation(tmp.path());
        threaded.Threaded = true;
        threaded.OnSearchFinish = [&](TFindFile&) { ++finished; };
        threaded.StartSearch();
    }
    processPendingEvents();
    EXPECT_EQ(finished, 0) << "no finish for a destroyed search";
}

TEST(DirWalker, FewOpenDescriptorsStillReachEveryFolder) {
    TempDir tmp;
    std::vector<TNode> nodes;
    std::vector<std::string> expected;
    std::string path;
    for (int depth = 0; depth < 12; ++depth) {
        path += "d" + std::to_string(depth) + "/";
        for (int k = 0; k < 3; ++k) nodes.push_back(file(path + "side" + std::to_string(k) + "/f"));
    }
    buildTree(tmp.path(), nodes);
    for (const TNode& n : nodes) expected.push_back(n.path.substr(0, n.path.size() - 1));
    TDirWalker walker;
    walker.setMaxOpenDirs(2);
    std::vector<std::string> seen;
    walker.walk(
        tmp.path(),
        [&](TDirWalker::TFolder& folder, std::vector<std::string>& descend) {
            for (const auto& item : folder.items)
                if (item.name.rfind("side", 0) == 0)
                    seen.push_back(folder.path.substr(tmp.path().size()) + item.name + "/");
            for (const auto& item : folder.items) descend.push_back(item.name);
            descend.erase(std::remove(descend.begin(), descend.end(), "f"), descend.end());
        },
        [](const std::string& p, size_t, int err) { ADD_FAILURE() << p << " " << err; });
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
}

namespace {

std::string utf16(const std::u16string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

}  // namespace

TEST(ContentSearch, ThreeEncodingsCaseAndWholeWords) {
    TempDir tmp;
    writeFile(tmp / "plain", "Ein Haus, ein Baum.");
    writeFile(tmp / "bom8",
              "\xEF\xBB\xBF"
              "Straße und Gärten");
    writeFile(tmp / "le", utf16(u"Die Straße Gärten", false));
    writeFile(tmp / "be", utf16(u"Die GÄRTEN Straße", true));
    writeFile(tmp / "utf8", "die größe");
    TContentCriteria c;
    auto has = [&](const std::string& phrase, TContentSearchOptions options, const char* name) {
        c.setPhrase(phrase);
        c.Options = options;
        return c.AcceptContent(tmp / name);
    };
    EXPECT_TRUE(has("HAUS", 0, "plain"));
    EXPECT_FALSE(has("HAUS", csoCaseSensitive, "plain"));
    EXPECT_TRUE(has("Haus", csoCaseSensitive | csoWholeWord, "plain"));
    EXPECT_FALSE(has("Hau", csoWholeWord, "plain"));
    EXPECT_TRUE(has("ein", csoWholeWord, "plain")) << "found at the start of the file";
    EXPECT_TRUE(has("Baum", csoWholeWord, "plain"));
    EXPECT_TRUE(has("Gärten", csoWholeWord, "bom8"));
    EXPECT_FALSE(has("Stra", csoWholeWord, "bom8")) << "'ß' is a letter";
    EXPECT_TRUE(has("gärten", csoWholeWord, "le"));
    EXPECT_TRUE(has("gärten", 0, "be")) << "UTF-16 folds beyond ASCII";
    EXPECT_TRUE(has("GÄRTEN", 0, "bom8")) << "so does UTF-8";
    EXPECT_TRUE(has("GRÖßE", 0, "utf8")) << "and UTF-8 without a mark";
    EXPECT_TRUE(has("grösse", csoCaseSensitive | csoNegate, "utf8"));
    EXPECT_FALSE(has("gärten", csoCaseSensitive, "be"));
    EXPECT_FALSE(has("Straß", csoWholeWord, "be"));
    EXPECT_TRUE(has("Baum", csoNegate, "le"));
    EXPECT_FALSE(has("x", 0, "missing")) << "a file that cannot be read never matches";
    EXPECT_FALSE(has("x", csoNegate, "missing"));
    EXPECT_EQ(c.Variants().Unicode, u"x");
}

TEST(ContentSearch, PhraseAcrossBlockBoundariesAndWordEndsAtFileEnd) {
    TempDir tmp;
    std::string text(61440 - 3, '.');
    text += "needle";
    text += std::string(70000, '.');
    text += "word";
    writeFile(tmp / "big", text);
    TContentCriteria c;
    c.setPhrase("needle");
    EXPECT_TRUE(c.AcceptContent(tmp / "big"));
    c.Options = csoWholeWord;
    EXPECT_TRUE(c.AcceptContent(tmp / "big"));
    c.setPhrase("word");
    EXPECT_TRUE(c.AcceptContent(tmp / "big"));
    c.setPhrase("wor");
    EXPECT_FALSE(c.AcceptContent(tmp / "big"));
    writeFile(tmp / "cut", std::string(61440 - 2, '.') + "needlex");
    c.setPhrase("needle");
    EXPECT_FALSE(c.AcceptContent(tmp / "cut")) << "the letter after it sits in the next block";
    writeFile(tmp / "split", std::string(61440 - 1, '.') + "\xC3\x84pfel");
    c.Options = 0;
    c.setPhrase("äpfel");
    EXPECT_TRUE(c.AcceptContent(tmp / "split")) << "a letter cut by the block end is joined";
}
