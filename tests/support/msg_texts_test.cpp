#include "support/msg_texts.h"

#include <gtest/gtest.h>

#include "platform/ini.h"
#include "support/interaction.h"
#include "testkit/testkit.h"

using namespace qb;
using qb::test::FakeMachine;

namespace {

const char* kLangFile = "C:\\Program Files\\Quillbox\\Test.lng";

// Every test starts with closed texts, as a fresh program does.
class MsgTexts : public ::testing::Test {
  protected:
    void SetUp() override { TMsgINISupp().CloseFile(); }
    void TearDown() override { TMsgINISupp().CloseFile(); }
    FakeMachine machine;
    ScriptedInteraction boxes;
    ScopedInteraction scope{boxes};
};

struct FixedSource : LanguageFileSource {
    std::string name;
    std::string languageFileName() const override { return name; }
};

}  // namespace

TEST(MessageLines, QuotesAndEightCharacterMarkersMakeLines) {
    EXPECT_EQ(ExpandMessageLines("Invalid command!"), "Invalid command!");
    EXPECT_EQ(ExpandMessageLines("First line\"#13#10+Second line\"#13#10+"),
              "First line\r\nSecond line\r\n");
    // What the seven characters after the quote are is not looked at.
    EXPECT_EQ(ExpandMessageLines("A\"1234567B\"abcdefg"), "A\r\nB\r\n");
    // A marker cut short at the end of the value ends the text.
    EXPECT_EQ(ExpandMessageLines("A\"12"), "A\r\n");
    // Text after the last marker stays, as a last line without a break.
    EXPECT_EQ(ExpandMessageLines("A\"1234567tail"), "A\r\ntail");
}

TEST_F(MsgTexts, ReadsKeysWithoutCaseAndDropsEnclosingQuotes) {
    machine.writeFile(kLangFile,
                      "[Messages]\r\n"
                      "Message14=\"Insert next volume! Disk number\"\r\n"
                      "Message7=Abort\r\n"
                      "Message50=\"Line one\"1234567Line two\"1234567\"\r\n");
    TMsgINISupp texts;
    texts.SetFileName(kLangFile);
    EXPECT_EQ(texts.GetMessageText("Message14"), "Insert next volume! Disk number");
    EXPECT_EQ(texts.GetMessageText("message7"), "Abort");
    EXPECT_EQ(texts.GetMessageText("MESSAGE7"), "Abort");
    EXPECT_EQ(texts.GetMessageText("Message50"), "Line one\r\nLine two\r\n");
    EXPECT_EQ(texts.GetMessageText("Message99"), "ERROR");
    // A key the file lacks but the program has (a file of an earlier version).
    EXPECT_EQ(texts.GetMessageText("message23"), "The password must be at least 5 characters long");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MsgTexts, EditedFileCountsAtTheNextLookup) {
    machine.writeFile(kLangFile, "[Messages]\r\nMessage1=\"old\"\r\n");
    TMsgINISupp texts;
    texts.SetFileName(kLangFile);
    EXPECT_EQ(texts.GetMessageText("Message1"), "old");
    machine.writeFile(kLangFile, "[Messages]\r\nMessage1=\"new\"\r\n");
    EXPECT_EQ(texts.GetMessageText("Message1"), "new");
}

TEST_F(MsgTexts, MissingFileWarnsOncePerOpenAndYieldsError) {
    TMsgINISupp texts;
    texts.SetFileName("C:\\Program Files\\Quillbox\\Missing.lng");
    EXPECT_EQ(texts.GetMessageText("Message1"), "ERROR");
    EXPECT_EQ(texts.GetMessageText("Message14"), "ERROR");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "WARNING!!!\r\n Language File Not Found! Its now creating a new!");
    EXPECT_EQ(boxes.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_TRUE(TMsgINISupp::Opened());
    // Nothing creates the file.
    EXPECT_FALSE(std::filesystem::exists(machine.host("C:\\Program Files\\Quillbox\\Missing.lng")));
}

TEST_F(MsgTexts, NoFileNameTellsThePersonAndAbandonsTheOperation) {
    TMsgINISupp texts;
    EXPECT_THROW(texts.GetMessageText("Message1"), OperationAbandoned);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "ERROR!!!\r\nFile not preset!");
    EXPECT_TRUE(TMsgINISupp::FileNameMissing());
    EXPECT_FALSE(TMsgINISupp::Opened());

    // The next lookup tries again; with a file name it succeeds.
    machine.writeFile(kLangFile, "[Messages]\r\nMessage1=\"Invalid command!\"\r\n");
    texts.SetFileName(kLangFile);
    EXPECT_EQ(texts.GetMessageText("Message1"), "Invalid command!");
    EXPECT_FALSE(TMsgINISupp::FileNameMissing());
}

TEST_F(MsgTexts, OpenedStateIsSharedAndClosingReopensEveryInstance) {
    TMsgINISupp first;
    TMsgINISupp second;
    first.SetFileName("C:\\nowhere\\a.lng");
    second.SetFileName("C:\\nowhere\\b.lng");
    first.GetMessageText("Message1");
    second.GetMessageText("Message1");
    EXPECT_EQ(boxes.boxes.size(), 1u) << "the second instance must not open again";

    first.CloseFile();
    EXPECT_TRUE(first.FileName().empty());
    EXPECT_FALSE(TMsgINISupp::Opened());
    second.GetMessageText("Message1");
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(MsgTexts, LinkedComponentSuppliesTheFileName) {
    machine.writeFile(kLangFile, "[Messages]\r\nMessage8=\"Close\"\r\n");
    FixedSource source;
    source.name = kLangFile;
    TMsgINISupp texts;
    texts.SetLngINISupp(&source);
    EXPECT_EQ(texts.FileName(), kLangFile);
    texts.CloseFile();  // empties the own name; the link gives it again at open
    EXPECT_EQ(texts.GetMessageText("Message8"), "Close");
}

TEST_F(MsgTexts, BuiltInEnglishFile) {
    const std::string path = "C:\\Program Files\\Quillbox\\English.lng";
    machine.writeFile(path, "stale");
    ASSERT_TRUE(WriteBuiltInLanguageFile(path));
    const std::string text = machine.readFile(path);
    EXPECT_EQ(text, BuiltInEnglishLanguageFile());
    EXPECT_EQ(text.rfind("[Language]\r\nLanguage=English\r\n\r\n[Messages]\r\nMessage1=", 0), 0u);

    TMsgINISupp texts;
    texts.SetFileName(path);
    EXPECT_EQ(texts.GetMessageText("Message14"), "Insert next volume! Disk number");
    EXPECT_EQ(texts.GetMessageText("Message6"), "Incorect password!");
    EXPECT_EQ(texts.GetMessageText("Message20"), "There was an error: ");
    EXPECT_EQ(texts.GetMessageText("Message33"), "Password ...");
    EXPECT_EQ(texts.GetMessageText("Message9"), "ERROR");  // no text in the table
    EXPECT_EQ(texts.GetMessageText("Message36"), "Backing up: ");
    EXPECT_EQ(texts.GetMessageText("Message40"),
              "Your email data has been saved in the backup file below.");
    EXPECT_EQ(texts.GetMessageText("Restoring your email data from :"),
              "Restoring your email data from:");
    for (int i = 34; i <= 51; ++i)
        EXPECT_NE(texts.GetMessageText("Message" + std::to_string(i)), "ERROR") << i;
    EXPECT_EQ(texts.GetMessageText("Message52"), "ERROR");
    EXPECT_TRUE(boxes.boxes.empty());

    // The window sections, in the order the windows are made.
    platform::IniFile ini(path);
    const std::vector<std::string> sections = {"Language", "Messages", "Form1", "Form2",
                                               "Form3",    "Form4",    "Form5", "passwordform1"};
    EXPECT_EQ(ini.readSections(), sections);
    EXPECT_EQ(ini.readString("Form1", "Button3", ""), "...");
    EXPECT_EQ(ini.readString("Form1", "Button2", ""), "Create Backup!");
    EXPECT_EQ(ini.readSection("Form1").size(), 44u);
    EXPECT_EQ(ini.readString("Form5", "Button2", ""), "Wait 5 minutes");
    EXPECT_EQ(ini.readString("passwordform1", "Label1", ""), "Backup password:");
}
