#include "support/file_search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/interaction.h"
#include "testkit/testkit.h"

namespace qb {
namespace {

using platform::SearchRec;
using test::FakeMachine;

// Records every event of a search.
struct Recorder {
    std::vector<std::string> folders;  // OnChangeFolder
    std::vector<std::string> matches;  // OnFileFind: folder + name
    int finished = 0;

    void attach(TFileSearch& s) {
        s.OnChangeFolder = [this](const std::string& f, const SearchRec&) { folders.push_back(f); };
        s.OnFileFind = [this](const std::string& f, const SearchRec& r) {
            matches.push_back(f + r.name);
        };
        s.OnFinish = [this](TFileSearch&) { ++finished; };
    }
};

class FileSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // C:\Mail\a.pce, C:\Mail\A\b.pce, C:\Mail\A\B\c.pce, C:\Mail\C\d.PCE, notes.txt
        for (const char* f : {"C:\\Mail\\a.pce", "C:\\Mail\\notes.txt", "C:\\Mail\\A\\b.pce",
                              "C:\\Mail\\A\\B\\c.pce", "C:\\Mail\\C\\d.PCE"})
            machine.writeFile(f, "x");
    }
    FakeMachine machine;
};

TEST_F(FileSearchTest, ReportsAFoldersOwnMatchesBeforeItsSubfoldersDepthFirst) {
    machine.writeFile("C:\\Mail\\z.pce", "x");
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.SearchFile = "C:\\Mail\\*.pce";
    search.Execute();

    EXPECT_EQ(rec.matches,
              (std::vector<std::string>{"C:\\Mail\\a.pce", "C:\\Mail\\z.pce", "C:\\Mail\\A\\b.pce",
                                        "C:\\Mail\\A\\B\\c.pce", "C:\\Mail\\C\\d.PCE"}));
    EXPECT_EQ(search.FilesFound(), rec.matches);
    EXPECT_EQ(rec.folders, (std::vector<std::string>{"C:\\Mail\\", "C:\\Mail\\A\\",
                                                     "C:\\Mail\\A\\B\\", "C:\\Mail\\C\\"}));
    EXPECT_EQ(rec.finished, 1);
}

TEST_F(FileSearchTest, EventsCarryTheFolderAndTheEntry) {
    TFileSearch search;
    std::vector<SearchRec> entries;
    SearchRec startFolder;
    int changes = 0;
    search.OnChangeFolder = [&](const std::string&, const SearchRec& r) {
        if (changes++ == 0) startFolder = r;
    };
    search.OnFileFind = [&](const std::string&, const SearchRec& r) { entries.push_back(r); };
    search.SearchFile = "C:\\Mail\\*.txt";
    search.Execute();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "notes.txt");
    EXPECT_EQ(entries[0].size, 1u);
    EXPECT_EQ(startFolder.name, "Mail");
    EXPECT_TRUE(startFolder.attr & platform::faDirectory);
}

TEST_F(FileSearchTest, LevelLimitsTheDepth) {
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.SearchFile = "C:\\Mail\\*.pce";

    search.Level = 1;
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\a.pce"}));
    EXPECT_EQ(rec.folders, (std::vector<std::string>{"C:\\Mail\\"}));

    rec = Recorder{};
    rec.attach(search);
    search.Level = 2;
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\a.pce", "C:\\Mail\\A\\b.pce",
                                                     "C:\\Mail\\C\\d.PCE"}));

    rec = Recorder{};
    rec.attach(search);
    search.Level = 0;
    search.RecurseSubFolders = false;
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\a.pce"}));
}

TEST_F(FileSearchTest, SemicolonPatternsShareTheFolderOfThePatternBefore) {
    EXPECT_EQ(TFileSearch::splitPatterns("C:\\Mail\\*.mbx;*.toc;Sub\\*.fol;*.x;;"),
              (std::vector<std::string>{"C:\\Mail\\*.mbx", "C:\\Mail\\*.toc",
                                        "C:\\Mail\\Sub\\*.fol", "C:\\Mail\\Sub\\*.x"}));

    machine.writeFile("C:\\Mail\\in.mbx", "x");
    machine.writeFile("C:\\Mail\\in.toc", "x");
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.Level = 1;
    search.SearchFile = "C:\\Mail\\*.mbx;*.toc;A\\*.pce";
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\in.mbx", "C:\\Mail\\in.toc",
                                                     "C:\\Mail\\A\\b.pce"}));
    EXPECT_EQ(rec.finished, 1);
}

TEST_F(FileSearchTest, MatchingFoldersAreReportedLikeFiles) {
    machine.writeFile("C:\\Mail\\Inbox.fol\\in.mbx", "x");
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.SearchFile = "C:\\Mail\\*.fol";
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\Inbox.fol"}));
}

TEST_F(FileSearchTest, FollowsLinkedFoldersButNeverRoundACircle) {
    namespace fs = std::filesystem;
    // Links back to the start folder and to the folder itself, and one to a folder
    // elsewhere, as Wine links profile folders into the home folder.
    fs::create_directory_symlink(machine.host("C:\\Mail"), machine.host("C:\\Mail\\A\\up"));
    fs::create_directory_symlink(machine.host("C:\\Mail\\A"), machine.host("C:\\Mail\\A\\self"));
    machine.writeFile("C:\\Elsewhere\\e.pce", "x");
    fs::create_directory_symlink(machine.host("C:\\Elsewhere"), machine.host("C:\\Mail\\Linked"));

    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.SearchFile = "C:\\Mail\\*.pce";
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\a.pce", "C:\\Mail\\A\\b.pce",
                                                     "C:\\Mail\\A\\B\\c.pce", "C:\\Mail\\C\\d.PCE",
                                                     "C:\\Mail\\Linked\\e.pce"}));
    EXPECT_EQ(rec.finished, 1);
}

TEST_F(FileSearchTest, StopFromAHandlerEndsTheSearchBeforeAnySubfolder) {
    machine.writeFile("C:\\Mail\\b.pce", "x");
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.OnFileFind = [&](const std::string& f, const SearchRec& r) {
        rec.matches.push_back(f + r.name);
        search.Stop = true;
    };
    search.SearchFile = "C:\\Mail\\*.pce;A\\*.pce";
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\a.pce"}));
    EXPECT_EQ(rec.folders, (std::vector<std::string>{"C:\\Mail\\"}));
    EXPECT_EQ(rec.finished, 1);
    EXPECT_TRUE(search.Stop);  // stays set until the next search

    search.OnFileFind = nullptr;
    search.Execute();
    EXPECT_FALSE(search.Stop);
}

// An Abort button: the message pump runs during the search and sets Stop.
class AbortAfterPumps : public Interaction {
  public:
    AbortAfterPumps(TFileSearch& s, int n) : search_(s), left_(n) {}
    MsgAnswer messageBox(std::string_view, MsgIcon, MsgButtons) override {
        return MsgAnswer::Cancel;
    }
    void processMessages() override {
        ++pumps;
        if (--left_ == 0) search_.Stop = true;
    }
    int pumps = 0;

  private:
    TFileSearch& search_;
    int left_;
};

TEST_F(FileSearchTest, TheMessagePumpRunsDuringTheSearchAndCanStopIt) {
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.SearchFile = "C:\\Mail\\*.pce";
    {
        AbortAfterPumps ui(search, 1000000);
        ScopedInteraction scope(ui);
        search.Execute();
        // After each of the 4 matches, and before and after entering each of the 3
        // subfolders.
        EXPECT_GE(ui.pumps, 4 + 2 * 3);
    }
    rec = Recorder{};
    rec.attach(search);
    AbortAfterPumps ui(search, 1);  // pressed at the very first pump: after the first match
    ScopedInteraction scope(ui);
    search.Execute();
    EXPECT_EQ(rec.matches, (std::vector<std::string>{"C:\\Mail\\a.pce"}));
    EXPECT_EQ(rec.finished, 1);
}

TEST_F(FileSearchTest, MissingStartFolderFindsNothingAndStillFinishes) {
    TFileSearch search;
    Recorder rec;
    rec.attach(search);
    search.SearchFile = "C:\\No such folder\\*.pce";
    search.Execute();
    EXPECT_TRUE(rec.matches.empty());
    EXPECT_TRUE(search.FilesFound().empty());
    EXPECT_EQ(rec.finished, 1);

    search.SearchFile = "*.pce";  // no folder at all
    search.Execute();
    EXPECT_TRUE(rec.matches.empty());
    EXPECT_EQ(rec.finished, 2);

    // Without a find handler, matches are neither reported nor collected.
    search.OnFileFind = nullptr;
    search.SearchFile = "C:\\Mail\\*.pce";
    search.Execute();
    EXPECT_TRUE(search.FilesFound().empty());
}

TEST_F(FileSearchTest, FoundFoldersHoldsOneEntryPerMatchInSearchOrder) {
    machine.writeFile("C:\\Mail\\A\\b2.pce", "x");
    machine.writeFile("C:\\Mail\\A\\b3.pce", "x");
    TFileSearch& search = FileSearch1();
    EXPECT_EQ(search.Level, 0);
    search.SearchFile = "C:\\Mail\\*.pce";
    ClearFoundFolders();
    search.Execute();
    EXPECT_EQ(FoundFolders(),
              (std::vector<std::string>{"C:\\Mail\\", "C:\\Mail\\A\\", "C:\\Mail\\A\\",
                                        "C:\\Mail\\A\\", "C:\\Mail\\A\\B\\", "C:\\Mail\\C\\"}));
    EXPECT_EQ(FoundFolderCount(), 6);
    ClearFoundFolders();
    EXPECT_EQ(FoundFolderCount(), 0);
}

TEST_F(FileSearchTest, FoundFoldersKeepsEveryMatchPastAThousand) {
    // 1200 folders with one match each, named so that their order is known.
    for (int i = 0; i < 1200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "F%04d", i);
        test::writeHostFile(machine.host("C:\\Big") / name / "x.pce", "");
    }
    ClearFoundFolders();
    FileSearch1().SearchFile = "C:\\Big\\*.pce";
    FileSearch1().Execute();
    ASSERT_EQ(FoundFolderCount(), 1200);
    EXPECT_EQ(FoundFolders()[0], "C:\\Big\\F0000\\");
    EXPECT_EQ(FoundFolders()[999], "C:\\Big\\F0999\\");
    EXPECT_EQ(FoundFolders()[1000], "C:\\Big\\F1000\\");
    EXPECT_EQ(FoundFolders()[1199], "C:\\Big\\F1199\\");
    ClearFoundFolders();
}

TEST_F(FileSearchTest, ASearchStartedFromItsOwnHandlerIsRefused) {
    TFileSearch search;
    search.SearchFile = "C:\\Mail\\*.pce";
    bool refused = false;
    search.OnFileFind = [&](const std::string&, const SearchRec&) {
        try {
            search.Execute();
        } catch (const std::logic_error&) {
            refused = true;
        }
        search.Stop = true;
    };
    search.Execute();
    EXPECT_TRUE(refused);
    EXPECT_EQ(search.FilesFound().size(), 1u);
}

}  // namespace
}  // namespace qb
