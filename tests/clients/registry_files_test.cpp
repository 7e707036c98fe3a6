// Registry settings carried whole: a key holding every kind of value goes through a
// backup and a restore onto another machine, and through qbreg export and import,
// and comes back value by value.
#include "adapter_test_support.h"

namespace qb::test {
namespace {

const std::string kKey = "\\Software\\Netscape\\Netscape Navigator\\ann\\Every Kind";

class RegistryFiles : public AdapterTest {};

TEST_F(RegistryFiles, EveryKindOfValueSurvivesBackupRestoreAndQbreg) {
    use(source);
    installNetscape4(source, {"ann"});
    const std::vector<NamedValue> values = everyKindOfValue();
    writeValues(kKey, values);
    const std::string backup = "C:\\Backups\\Every Kind.ebk";
    ASSERT_FALSE(backupOn(source, backup, kind::Netscape4, selection({{"ann", true}}),
                          allItems(kind::Netscape4)))
        << errorText();

    // Directly into the client on another machine.
    use(target);
    moveBackup(backup, target);
    ASSERT_EQ(compareValues(kKey, values), "no key " + kKey);
    const Choice c = contents(backup, kind::Netscape4);
    ASSERT_FALSE(jobs::RunRestore(backup, kind::Netscape4, c.identities, c.items)) << errorText();
    EXPECT_EQ(compareValues(kKey, values), "");

    // qbreg export on Ann's machine, import on Bob's in place of what is there.
    TempDir here;
    ProgramRun r =
        runProgram(source, kQbreg, {"export", "HKCU" + kKey, "./every.reg"}, true, here.path());
    ASSERT_EQ(r.status, 0) << r.err;
    use(target);
    {
        platform::Registry reg;
        ASSERT_TRUE(reg.deleteKey(kKey));
    }
    r = runProgram(target, kQbreg, {"import", (here.path() / "every.reg").string()}, true);
    ASSERT_EQ(r.status, 0) << r.err;
    use(target);
    EXPECT_EQ(compareValues(kKey, values), "");
}

}  // namespace
}  // namespace qb::test
