// An optional item whose source the machine does not have adds nothing, with a
// note naming it; the backup of everything else is written and succeeds.

#include <filesystem>
#include <functional>

#include "adapter_test_support.h"

namespace qb::test {
namespace {

struct MissingCase {
    const char* name;
    ClientKind kind;
    // Lays the client out on the machine and removes one item's source; returns
    // that source's Windows path.
    std::function<std::string(const FakeMachine&)> prepare;
    const char* kept;     // a stored file of another item
    const char* dropped;  // the stored name the removed source would have had
    const char* item;     // the item the note names
};

class MissingItemTest : public AdapterTest {};

TEST_F(MissingItemTest, AnItemWithoutSourceIsNotedAndTheRestIsBackedUp) {
    const std::vector<MissingCase> cases = {
        {"Eudora address book", kind::Eudora,
         [](const FakeMachine& m) { return installEudora(m).folder + "\\nndbase.txt"; },
         "eudora.ini", "nndbase.txt", "Address Book"},
        {"Eudora signatures", kind::Eudora,
         [](const FakeMachine& m) { return installEudora(m).folder + "\\Sigs"; }, "nndbase.txt",
         "Sigs/Standard.txt", "Signatures"},
        {"Opera address book", kind::Opera6,
         [](const FakeMachine& m) { return installOpera6(m).folder + "Contacts.adr"; },
         "account1/Account.ini", "Contacts.adr", "Address Book"},
        {"Opera signature", kind::Opera6,
         [](const FakeMachine& m) { return installOpera6(m).folder + "Mail\\account1\\sig.txt"; },
         "Contacts.adr", "account1/Signatures/sig.txt", "account1"},
        {"PocoMail filters", kind::PocoMail3,
         [](const FakeMachine& m) {
             return installPocoMail(m, kind::PocoMail3).folder + "\\Filters.ini";
         },
         "poco.ini", "Filters.ini", "Filters"},
    };
    for (const MissingCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine m{"ann"};
        use(m);
        const std::string path = c.prepare(m);
        ASSERT_TRUE(fs::exists(m.host(path)));
        fs::remove_all(m.host(path));

        const std::string backup = "C:\\Backups\\Missing.ebk";
        const Choice all = everything(c.kind);
        EXPECT_FALSE(backupOn(m, backup, c.kind, all.identities, all.items)) << errorText();
        const StoredFiles s = stored(m, backup);
        ASSERT_TRUE(s.ok) << s.error;
        EXPECT_TRUE(s.has(c.kept));
        EXPECT_FALSE(s.has(c.dropped));
        EXPECT_TRUE(s.has("infobak.ini"));

        const std::vector<std::string>& notes = jobs::archiveJob().notes;
        ASSERT_EQ(notes.size(), 1u) << (notes.empty() ? "" : notes.back());
        EXPECT_NE(notes[0].find(c.item), std::string::npos) << notes[0];
        EXPECT_NE(notes[0].find(path), std::string::npos) << notes[0];
    }
}

}  // namespace
}  // namespace qb::test
