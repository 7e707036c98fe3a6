#include "demo/demo_machine.h"

#include "catalog/client_kind.h"
#include "testkit/clients_fixture.h"
#include "testkit/demo_fixture.h"

namespace qb::demo {

using test::fillMailFiles;
using test::MailForm;

DemoFolders demoFolders(const std::string& user, bool data) {
    DemoFolders f;
    f.user = user;
    f.data = data;
    if (data) {
        // Where the installers of the test kit put the clients.
        f.eudora = "C:\\Eudora";
        f.incrediContent = "C:\\Program Files\\IncrediMail\\Data";
        f.pegasus = "C:\\PMAIL";
        f.theBat = "C:\\Program Files\\The Bat!";
        f.poco2 = "C:\\Program Files\\PocoMail";
        f.poco3 = "C:\\Program Files\\Poco Systems Inc\\PocoMail3";
        f.pocoPE = "C:\\PocoMailPE";
        f.opera6 = "C:\\Program Files\\Opera";
        f.stationery = "C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery";
    } else {
        f.eudora = "C:\\Mail\\Eudora";
        f.incrediContent = "C:\\IncrediMail Data";
        f.pegasus = "C:\\Pegasus";
        f.theBat = "C:\\Mail\\The Bat";
        f.poco2 = "C:\\Mail\\Poco 2";
        f.poco3 = "C:\\Mail\\Poco 3";
        f.pocoPE = "C:\\Mail\\Poco PE";
        f.opera6 = "C:\\Mail\\Opera 6";
        f.stationery = "C:\\Mail\\Stationery";
    }
    return f;
}

namespace {

std::vector<std::string> under(const std::string& folder, const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& n : names)
        out.push_back(folder + "\\" + n);
    return out;
}

}  // namespace

void makeDataMachine(const test::FakeMachine& m, int n) {
    const DemoFolders f = demoFolders(m.user(), true);
    const std::string owner = "Ann Example";

    const test::OEInstall oe = test::installOutlookExpress(m);
    for (const std::string& store : oe.storeFolders)
        fillMailFiles(m,
                      under(store, {"Inbox.dbx", "Sent Items.dbx", "Deleted Items.dbx",
                                    "Old Folders\\Inbox.dbx"}),
                      owner, n, MailForm::Binary);

    const test::OutlookInstall outlook = test::installOutlook(m);
    fillMailFiles(m, outlook.pstFiles, owner, n, MailForm::Binary);

    const test::EudoraInstall eudora = test::installEudora(m, f.eudora);
    fillMailFiles(m,
                  under(eudora.folder, {"In.mbx", "Out.mbx", "Trash.mbx", "Work.fol\\Projects.mbx",
                                        "Work.fol\\Client Projects.mbx",
                                        "Work.fol\\Old.fol\\2003.mbx", "Personal.fol\\Family.mbx"}),
                  owner, n, MailForm::Text);

    const test::IMInstall im = test::installIncrediMail(
        m, true,
        {
            {"{1A2B3C4D-0000-4000-8000-000000000001}", "Ann", std::nullopt},
            {"{1A2B3C4D-0000-4000-8000-000000000002}", "Ann at work", 1},
        },
        f.incrediContent);
    for (const char* key :
         {"{1A2B3C4D-0000-4000-8000-000000000001}", "{1A2B3C4D-0000-4000-8000-000000000002}"})
        fillMailFiles(m,
                      under(im.applicationFolder + "\\Identities\\" + key + "\\Message Store",
                            {"Inbox.imm", "Sent Items.imm", "Work\\Project Plans.imm",
                             "Work\\Old\\2004 Archive.imm"}),
                      owner, n, MailForm::Binary);

    const test::PegasusInstall pegasus = test::installPegasus(m, {"ANN", "FAMILY"}, f.pegasus);
    for (const char* user : {"ANN", "FAMILY"})
        fillMailFiles(m,
                      under(pegasus.baseFolder + "\\" + user,
                            {"FOLDER1.PMM", "Sent mail copy.CNM", "Old Mail\\1999\\FOLDER2.PMM"}),
                      owner, n, MailForm::Binary);

    const test::BatInstall bat =
        test::installTheBat(m, {{"Ann", ""}, {"Ann Work", "C:\\BatMail\\Ann Work"}}, f.theBat);
    for (const std::string& folder : bat.userFolders)
        for (const std::string& box : test::batMailFolders())
            fillMailFiles(m, {folder + "\\" + box + "\\Messages.tbb"}, owner, n, MailForm::Binary);

    for (auto [version, folder] :
         {std::pair{kind::PocoMail2, f.poco2}, std::pair{kind::PocoMail3, f.poco3},
          std::pair{kind::PocoMail2PE, f.pocoPE}}) {
        const test::PocoInstall poco = test::installPocoMail(m, version, {"Ann", "Bob"}, folder);
        fillMailFiles(
            m,
            under(poco.folder, {"Mail\\Inbox.mbx", "Mail\\Work\\Project.mbx",
                                "Mail\\Work\\Clients.mbx", "Mail\\Work\\2005\\Old.mbx",
                                "users\\Ann\\Mail\\Inbox.mbx", "users\\Bob\\Mail\\Inbox.mbx"}),
            owner, n, MailForm::Text);
    }

    const test::OperaInstall opera6 = test::installOpera6(m);
    for (const char* account : {"account1", "account2"})
        fillMailFiles(m,
                      under(opera6.folder + "Mail\\" + account,
                            {"Inbox.MBS", "Sent.MBS", "Inbox\\Inbox.mbs", "Inbox\\Old\\Old.mbs",
                             "Mailing Lists\\Mailing Lists.mbs"}),
                      owner, n, MailForm::Text);
    const test::OperaInstall opera7 = test::installOpera7(m);
    fillMailFiles(m, {opera7.folder + "\\Mail\\storage\\2004\\mail 0001.mbs"}, owner, n,
                  MailForm::Text);

    for (const test::Netscape4User& u : test::installNetscape4(m, {"ann", "annwork"}))
        fillMailFiles(m,
                      {u.userFolder + "mail\\Inbox", u.userFolder + "mail\\Sent Items",
                       u.userFolder + "mail\\Inbox.sbd\\Old",
                       u.userFolder + "mail\\Inbox.sbd\\Old.sbd\\2002"},
                      owner, n, MailForm::Text);
    for (const test::MozillaProfile& p : test::installMozilla(m, {"default", "work"}))
        fillMailFiles(m,
                      under(p.folder + "\\Mail",
                            {"pop.example.com\\Inbox", "Local Folders\\Trash",
                             "Local Folders\\Projects", "Local Folders\\Projects.sbd\\Old Stuff"}),
                      owner, n, MailForm::Text);

    test::installFavorites(m);
}

void makeEmptyMachine(const test::FakeMachine& m) {
    const DemoFolders f = demoFolders(m.user(), false);
    test::installEmptyOutlookExpress(m, f.stationery);
    test::installEmptyOutlook(m);
    test::installEmptyEudora(m, f.eudora);
    test::installEmptyIncrediMail(m, f.incrediContent);
    test::installEmptyPegasus(m, f.pegasus);
    test::installEmptyTheBat(m, f.theBat);
    test::installEmptyPocoMail(m, kind::PocoMail2, f.poco2);
    test::installEmptyPocoMail(m, kind::PocoMail3, f.poco3);
    test::installEmptyPocoMail(m, kind::PocoMail2PE, f.pocoPE);
    test::installEmptyOpera(m, f.opera6);
    test::installEmptyNetscape(m);
}

}  // namespace qb::demo
