#include "archive/archive_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "testkit/testkit.h"

using namespace qb::archive;
using qb::test::FakeMachine;

namespace {

int32_t readInt(const unsigned char* base, size_t offset) {
    int32_t v;
    std::memcpy(&v, base + offset, sizeof v);
    return v;
}

std::string readText(const unsigned char* base, size_t offset) {
    return std::string(reinterpret_cast<const char*>(base + offset));
}

// Points QUILLBOX_SQX elsewhere for a scope and loads the built library again after.
class LibraryFileOverride {
  public:
    explicit LibraryFileOverride(const char* file) {
        if (const char* v = std::getenv("QUILLBOX_SQX")) previous_ = v;
        ::setenv("QUILLBOX_SQX", file, 1);
    }
    ~LibraryFileOverride() {
        ::setenv("QUILLBOX_SQX", previous_.c_str(), 1);
        LoadArchiveLibrary();
    }

  private:
    std::string previous_;
};

// The library the build made (ctest sets QUILLBOX_SQX; a direct run finds it here).
void useBuiltLibrary() {
    ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
}

}  // namespace

TEST(ArchiveRecords, OptionsCarryTheirFieldsAtFixedOffsets) {
    FakeMachine machine;
    const std::string staging = "C:\\users\\tester\\Temp";
    ArchiveOptions ao;
    ao.bytes.fill(0xAA);
    std::string error;
    ASSERT_TRUE(MakeArchiveOptions(ao, "secret", staging, true, 1357664, &error)) << error;
    const unsigned char* b = ao.bytes.data();
    EXPECT_EQ(readInt(b, 0), 3740);
    EXPECT_EQ(readInt(b, 4), 3);
    EXPECT_EQ(readInt(b, 16), 1);
    EXPECT_EQ(readInt(b, 32), 1);
    EXPECT_EQ(readText(b, 40), "secret");
    EXPECT_EQ(readText(b, 584), machine.host(staging).string());
    EXPECT_EQ(readInt(b, 1400), 1);
    EXPECT_EQ(readInt(b, 1404), 1);
    EXPECT_EQ(readInt(b, 1416), 1357664);
    // Everything else is zero.
    size_t nonZero = 0;
    for (size_t i = 0; i < ao.bytes.size(); ++i)
        nonZero += ao.bytes[i] != 0;
    EXPECT_EQ(nonZero, 2u + 1 + 1 + 1 + 6 + machine.host(staging).string().size() + 1 + 1 + 3);

    ASSERT_TRUE(MakeArchiveOptions(ao, "", staging, false, 13));
    EXPECT_EQ(readInt(ao.bytes.data(), 1400), 0);
    EXPECT_EQ(readInt(ao.bytes.data(), 1416), 13);

    ExtractOptions eo;
    eo.bytes.fill(0xAA);
    ASSERT_TRUE(MakeExtractOptions(eo, true, staging));
    EXPECT_EQ(readInt(eo.bytes.data(), 0), 828);
    EXPECT_EQ(readInt(eo.bytes.data(), 4), 1);
    EXPECT_EQ(readInt(eo.bytes.data(), 8), 1);
    EXPECT_EQ(readText(eo.bytes.data(), 556), machine.host(staging).string());

    // Texts that do not fit, and folders with no place on this machine, are refused.
    EXPECT_FALSE(MakeArchiveOptions(ao, std::string(544, 'p'), staging, false, 0, &error));
    EXPECT_FALSE(MakeExtractOptions(eo, false, "\\\\server\\share", &error));
    EXPECT_NE(error.find("\\\\server\\share"), std::string::npos);
    EXPECT_FALSE(MakeExtractOptions(eo, false, "C:\\" + std::string(300, 'x'), &error));
}

TEST(ArchiveRecords, CallbackRecordFields) {
    std::vector<unsigned char> raw(1024, 0);
    CallbackRecord r(raw.data());
    r.writeInt(CallbackRecord::kReasonOffset, 2);
    r.writeInt(CallbackRecord::kVolumeKindOffset, 11);
    r.writeInt(CallbackRecord::kPercentOffset, 1457664);
    r.writeInt(CallbackRecord::kDiskNumberOffset, 3);
    EXPECT_EQ(r.reason(), 2);
    EXPECT_EQ(r.volumeKind(), 11);
    EXPECT_EQ(r.bytesNeeded(), 1457664u);
    EXPECT_EQ(r.diskNumber(), 3);

    EXPECT_TRUE(r.setFileName("Mail\\Inbox.mbx"));
    EXPECT_EQ(readText(raw.data(), 4), "Mail\\Inbox.mbx");
    EXPECT_TRUE(r.setFileName(std::string(271, 'n')));
    EXPECT_FALSE(r.setFileName(std::string(272, 'n')));
    EXPECT_EQ(r.fileName(), std::string(271, 'n')) << "a refused text leaves the field alone";
    EXPECT_TRUE(r.setPathText("pw"));
    EXPECT_EQ(readText(raw.data(), 276), "pw");
    EXPECT_FALSE(r.setPathText(std::string(288, 'p')));
}

TEST(ArchiveLoading, MissingFileOrEntryPointLeavesNoTable) {
    useBuiltLibrary();
    FileList list;
    {
        LibraryFileOverride missing("/nonexistent/libsqx.so");
        EXPECT_FALSE(LoadArchiveLibrary());
        EXPECT_FALSE(ArchiveLibraryLoaded());
        EXPECT_NE(ArchiveLibraryLoadError().find("/nonexistent/libsqx.so"), std::string::npos);
        // Every call does nothing and gives -1.
        EXPECT_EQ(SqxInitFileList(list), kResultNotLoaded);
        EXPECT_EQ(SqxAddFileList("C:\\x", list), kResultNotLoaded);
        EXPECT_EQ(SqxDoneFileList(list), kResultNotLoaded);
        NameList names;
        EXPECT_EQ(SqxInitArcFileList(names), kResultNotLoaded);
        EXPECT_EQ(SqxDoneArcFileList(names), kResultNotLoaded);
        EXPECT_NE(SqxLastError().find("/nonexistent/libsqx.so"), std::string::npos);
    }
    {
        LibraryFileOverride partial(QB_PARTIAL_SQX);
        EXPECT_FALSE(LoadArchiveLibrary());
        EXPECT_FALSE(ArchiveLibraryLoaded());
        EXPECT_NE(ArchiveLibraryLoadError().find("SqxRepairFiles"), std::string::npos);
        EXPECT_EQ(SqxInitFileList(list), kResultNotLoaded);
    }
    EXPECT_TRUE(ArchiveLibraryLoaded()) << ArchiveLibraryLoadError();
}

TEST(ArchiveLoading, DefaultFileIsBesideTheProgram) {
    const char* saved = std::getenv("QUILLBOX_SQX");
    const std::string keep = saved ? saved : "";
    ::unsetenv("QUILLBOX_SQX");
    const auto file = ArchiveLibraryFile();
    if (!keep.empty()) ::setenv("QUILLBOX_SQX", keep.c_str(), 1);
    EXPECT_EQ(file.filename(), "libsqx.so");
    EXPECT_EQ(file.parent_path().filename(), "tests");  // this test program's folder
}

TEST(ArchivePaths, HostPathsInErrorTextsBecomeWindowsPaths) {
    FakeMachine machine;
    const std::string host = machine.host("C:\\Mail\\Inbox.mbx").string();
    EXPECT_EQ(WindowsPathsInText("cannot read " + host + ": Permission denied"),
              "cannot read C:\\Mail\\Inbox.mbx: Permission denied");
    EXPECT_EQ(WindowsPathsInText("refused \"" + host + "\""), "refused \"C:\\Mail\\Inbox.mbx\"");
    EXPECT_EQ(WindowsPathsInText("no path here: 1/2"), "no path here: 1/2");
}

namespace {

// Records what the library reports and answers as a job would.
struct Listener {
    std::vector<std::string> added;      // reason 5 as the callback saw it
    std::vector<std::string> extracted;  // reason 6 as the callback saw it
    std::string redirectTo;              // folder for reason 6, a Windows path

    static int32_t call(intptr_t user, void* raw) {
        auto* self = reinterpret_cast<Listener*>(user);
        CallbackRecord r(raw);
        if (r.reason() == kReasonNextEntry) {
            const std::string source = r.fileName();
            self->added.push_back(source);
            r.setFileName("Stored\\" + source.substr(source.find_last_of('\\') + 1));
        } else if (r.reason() == kReasonExtractEntry) {
            const std::string out = r.fileName();
            self->extracted.push_back(out);
            if (!self->redirectTo.empty())
                r.setFileName(self->redirectTo + out.substr(out.find_last_of('\\') + 1));
        }
        return kAnswerGoOn;
    }
};

}  // namespace

TEST(ArchivePaths, LibrarySeesHostPathsAndTheCallbackWindowsPaths) {
    useBuiltLibrary();
    FakeMachine machine;
    ASSERT_TRUE(LoadArchiveLibrary()) << ArchiveLibraryLoadError();
    machine.writeFile("C:\\Data\\Mail Store\\Inbox.mbx", "inbox");
    machine.writeFile("C:\\Data\\Mail Store\\Sub\\a.txt", "a");
    machine.writeFile("C:\\Data\\note.txt", "note");
    machine.writeFile("C:\\Out\\keep.txt", "");
    machine.writeFile("C:\\Stage\\keep.txt", "");

    Listener listener;
    FileList list;
    ASSERT_EQ(SqxInitFileList(list), kResultOk);
    EXPECT_EQ(SqxAddFileList("C:\\Data\\Mail Store", list), kResultOk);
    EXPECT_EQ(SqxAddFileList("Q:\\no drive\\x.txt", list), kResultOk);  // left out
    EXPECT_EQ(SqxAddFileList("c:\\data\\NOTE.TXT", list), kResultOk);
    ArchiveOptions ao;
    ASSERT_TRUE(MakeArchiveOptions(ao, "", "C:\\Stage", false, 0));
    ASSERT_EQ(SqxAddFiles("C:\\Out\\b.ebk", list, ao, &Listener::call,
                          reinterpret_cast<intptr_t>(&listener)),
              kResultOk)
        << SqxLastError();
    SqxDoneFileList(list);
    EXPECT_EQ(listener.added,
              (std::vector<std::string>{"C:\\Data\\Mail Store", "C:\\Data\\note.txt"}));
    EXPECT_TRUE(std::filesystem::exists(machine.host("C:\\Out\\b.ebk")));

    // Listing gives the stored names in archive order.
    FileList patterns;
    NameList names;
    ArchiveInfo info;
    ExtractOptions eo;
    ASSERT_TRUE(MakeExtractOptions(eo, false, "C:\\Stage"));
    SqxInitFileList(patterns);
    SqxAddFileList("*.*", patterns);
    SqxInitArcFileList(names);
    ASSERT_EQ(SqxListFiles("C:\\Out\\b.ebk", patterns, names, info, eo, nullptr, 0), kResultOk)
        << SqxLastError();
    EXPECT_EQ(names.count(), 5);
    EXPECT_EQ(names.names(),
              (std::vector<std::string>{"Stored\\Mail Store\\", "Stored\\Mail Store\\Inbox.mbx",
                                        "Stored\\Mail Store\\Sub\\",
                                        "Stored\\Mail Store\\Sub\\a.txt", "Stored\\note.txt"}));
    SqxDoneArcFileList(names);
    SqxDoneFileList(patterns);

    // Extraction: the callback sees the Windows output path and redirects it.
    listener.redirectTo = "C:\\Restored\\Here\\";
    FileList wanted;
    SqxInitFileList(wanted);
    SqxAddFileList("Stored\\note.txt", wanted);
    ASSERT_EQ(SqxExtractFiles("C:\\Out\\b.ebk", wanted, eo, &Listener::call,
                              reinterpret_cast<intptr_t>(&listener)),
              kResultOk)
        << SqxLastError();
    SqxDoneFileList(wanted);
    EXPECT_EQ(listener.extracted, (std::vector<std::string>{"C:\\Stage\\note.txt"}));
    EXPECT_EQ(machine.readFile("C:\\Restored\\Here\\note.txt"), "note");
    EXPECT_FALSE(std::filesystem::exists(machine.host("C:\\Stage\\note.txt")));
}

TEST(ArchivePaths, BackupPathWithoutPlaceIsAnErrorNamingIt) {
    useBuiltLibrary();
    FakeMachine machine;
    ASSERT_TRUE(LoadArchiveLibrary());
    FileList list;
    SqxInitFileList(list);
    ArchiveOptions ao;
    ASSERT_TRUE(MakeArchiveOptions(ao, "", "", false, 0));
    EXPECT_EQ(SqxAddFiles("\\\\server\\share\\b.ebk", list, ao, nullptr, 0), kResultPathNotMapped);
    EXPECT_NE(SqxLastError().find("\\\\server\\share\\b.ebk"), std::string::npos);
    SqxDoneFileList(list);
}
