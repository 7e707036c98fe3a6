#include "testkit/clients_fixture.h"

#include <stdexcept>

#include "catalog/client_kind.h"
#include "platform/paths.h"

namespace qb::test {

using platform::Registry;

namespace {

// Opens (creating) the key, lets `write` use it, and lets the accessor go.
template <typename Write>
void withKey(RootKey root, std::string_view key, Write write) {
    Registry reg(root);
    if (!reg.openKey(key, true))
        throw std::runtime_error("fixture: cannot create key " + std::string(key));
    write(reg);
}

// A small stand-in for a client's binary file: recognisable, with a NUL inside.
std::string binary(std::string_view tag) {
    std::string s(tag);
    s += '\0';
    s += "\x01\x02\xff data of ";
    s += tag;
    return s;
}

std::string url(std::string_view address) {
    return "[DEFAULT]\r\nBASEURL=" + std::string(address) +
           "\r\n[InternetShortcut]\r\nURL=" + std::string(address) + "\r\n";
}

}  // namespace

void createKey(RootKey root, std::string_view key) {
    withKey(root, key, [](Registry&) {});
}

void setString(RootKey root, std::string_view key, std::string_view name, std::string_view value) {
    withKey(root, key, [&](Registry& reg) { reg.writeString(name, value); });
}

void setExpandString(RootKey root, std::string_view key, std::string_view name,
                     std::string_view value) {
    withKey(root, key, [&](Registry& reg) { reg.writeExpandString(name, value); });
}

void setDword(RootKey root, std::string_view key, std::string_view name, int32_t value) {
    withKey(root, key, [&](Registry& reg) { reg.writeInteger(name, value); });
}

void setBinary(RootKey root, std::string_view key, std::string_view name,
               const std::vector<uint8_t>& value) {
    withKey(root, key, [&](Registry& reg) { reg.writeBinary(name, value); });
}

std::string profileFolder(const FakeMachine& m) {
    return "C:\\users\\" + m.user();
}
std::string appDataFolder(const FakeMachine& m) {
    return profileFolder(m) + "\\AppData\\Roaming";
}
std::string localAppDataFolder(const FakeMachine& m) {
    return profileFolder(m) + "\\AppData\\Local";
}
std::string favoritesFolder(const FakeMachine& m) {
    return profileFolder(m) + "\\Favorites";
}

void registerMailClient(std::string_view name) {
    const std::string key = "\\Software\\Clients\\Mail\\" + std::string(name);
    setString(RootKey::LocalMachine, key, "", name);
    createKey(RootKey::LocalMachine, key + "\\shell\\open\\command");
}

void setDefaultMailClient(std::string_view name) {
    setString(RootKey::LocalMachine, "\\Software\\Clients\\Mail", "", name);
}

// ---- Mozilla's profile registry ----------------------------------------------

namespace {
constexpr int32_t kHeaderArea = 128;
constexpr int32_t kNodeSize = 32;
constexpr uint16_t kTypeKey = 0x0001;
constexpr uint16_t kTypeStringEntry = 0x0011;
constexpr uint16_t kTypeDeleted = 0x0080;
// Offsets inside a node record.
constexpr int32_t kLocation = 0, kName = 4, kNameLen = 8, kType = 10, kLeft = 12, kDown = 16,
                  kValue = 20, kValueLen = 24, kParent = 28;
}  // namespace

MozillaRegistryWriter::MozillaRegistryWriter() : bytes_(kHeaderArea, 0) {
    write32(0, 0x76644441);  // magic
    write16(4, 1);           // major version
    write16(6, 2);           // minor version
    const int32_t name = appendBytes("/");
    root_ = appendNode(name, 2, kTypeKey, 0);
    write32(12, root_);
    // The library adds these whenever it opens a registry.
    users_ = addKey(root_, "Users");
    common_ = addKey(root_, "Common");
    addKey(root_, "Version Registry");
    addKey(root_, "Private Arenas");
}

int32_t MozillaRegistryWriter::read32(int32_t at) const {
    const auto* p = &bytes_[static_cast<size_t>(at)];
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

void MozillaRegistryWriter::write32(int32_t at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        bytes_[static_cast<size_t>(at + i)] = static_cast<uint8_t>(u >> (8 * i));
}

void MozillaRegistryWriter::write16(int32_t at, uint16_t v) {
    bytes_[static_cast<size_t>(at)] = static_cast<uint8_t>(v);
    bytes_[static_cast<size_t>(at + 1)] = static_cast<uint8_t>(v >> 8);
}

int32_t MozillaRegistryWriter::appendBytes(std::string_view data) {
    const auto at = static_cast<int32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    bytes_.push_back(0);
    write32(8, static_cast<int32_t>(bytes_.size()));  // next free offset
    return at;
}

int32_t MozillaRegistryWriter::appendNode(int32_t name, uint16_t nameLen, uint16_t type,
                                          int32_t parent) {
    const auto at = static_cast<int32_t>(bytes_.size());
    bytes_.resize(bytes_.size() + kNodeSize, 0);
    write32(at + kLocation, at);
    write32(at + kName, name);
    write16(at + kNameLen, nameLen);
    write16(at + kType, type);
    write32(at + kParent, parent);
    write32(8, static_cast<int32_t>(bytes_.size()));
    return at;
}

int32_t MozillaRegistryWriter::addKey(int32_t parent, std::string_view name) {
    const int32_t nameAt = appendBytes(name);
    const int32_t node =
        appendNode(nameAt, static_cast<uint16_t>(name.size() + 1), kTypeKey, parent);
    int32_t link = parent + kDown;
    while (read32(link) != 0)
        link = read32(link) + kLeft;
    write32(link, node);
    return node;
}

void MozillaRegistryWriter::setString(int32_t key, std::string_view name, std::string_view value) {
    const int32_t nameAt = appendBytes(name);
    const int32_t valueAt = appendBytes(value);
    const int32_t node =
        appendNode(nameAt, static_cast<uint16_t>(name.size() + 1), kTypeStringEntry, key);
    const auto len = static_cast<int32_t>(value.size() + 1);
    write32(node + kValue, valueAt);
    write32(node + kValueLen, len);
    write32(node + kDown, len);  // room available, kept where a key keeps its child
    write32(node + kLeft, read32(key + kValue));
    write32(key + kValue, node);
}

void MozillaRegistryWriter::deleteKey(int32_t parent, int32_t key) {
    int32_t link = parent + kDown;
    while (read32(link) != 0 && read32(link) != key)
        link = read32(link) + kLeft;
    if (read32(link) != key) throw std::runtime_error("fixture: no such registry key");
    write32(link, read32(key + kLeft));
    write16(key + kType, static_cast<uint16_t>(kTypeKey | kTypeDeleted));
}

// ---- Outlook Express -----------------------------------------------------------

OEInstall installOutlookExpress(const FakeMachine& m, const std::vector<OEIdentity>& identities) {
    OEInstall out;
    registerMailClient("Outlook Express");
    setString(RootKey::LocalMachine, "\\Software\\Clients\\Mail\\Outlook Express", "DLLPath",
              "C:\\Program Files\\Outlook Express\\msoe.dll");
    const std::string ids = "\\Identities";
    if (!identities.empty()) {
        setString(RootKey::CurrentUser, ids, "Default User ID", identities.front().guid);
        setString(RootKey::CurrentUser, ids, "Last User ID", identities.front().guid);
        setString(RootKey::CurrentUser, ids, "Last Username", identities.front().name);
    }
    setDword(RootKey::CurrentUser, ids, "Identity Ordinal",
             static_cast<int32_t>(identities.size()));
    int ordinal = 0;
    for (const OEIdentity& id : identities) {
        const std::string key = ids + "\\" + id.guid;
        setString(RootKey::CurrentUser, key, "Username", id.name);
        setString(RootKey::CurrentUser, key, "User ID", id.guid);
        setDword(RootKey::CurrentUser, key, "Identity Ordinal", ++ordinal);
        const std::string oe = key + "\\Software\\Microsoft\\Outlook Express\\5.0";
        const std::string storeTail = "\\Local Settings\\Application Data\\Identities\\" + id.guid +
                                      "\\Microsoft\\Outlook Express";
        const std::string storeRoot =
            id.storeRoot.empty() ? "%UserProfile%" + storeTail : id.storeRoot;
        setExpandString(RootKey::CurrentUser, oe, "Store Root", storeRoot);
        setDword(RootKey::CurrentUser, oe, "First Run Done", 1);
        setDword(RootKey::CurrentUser, oe + "\\Mail", "Show Unread", 1);
        setString(RootKey::CurrentUser, oe + "\\Columns", "Mail", "0000000400000003");
        setString(RootKey::CurrentUser, oe + "\\Signatures", "Default Signature", "00000000");
        setString(RootKey::CurrentUser, oe + "\\Signatures\\00000000", "name", "Signature #1");
        setString(RootKey::CurrentUser, oe + "\\Signatures\\00000000", "text", "-- \r\n" + id.name);
        setDword(RootKey::CurrentUser, oe + "\\Signatures\\00000000", "type", 1);
        setString(RootKey::CurrentUser, oe + "\\Rules\\Mail\\000", "Name", "Newsletters");
        setDword(RootKey::CurrentUser, oe + "\\Rules\\Mail\\000", "Enabled", 1);
        setString(RootKey::CurrentUser, oe + "\\Block Senders\\Mail\\Criteria\\0", "Sender",
                  "spam@example.com");
        const std::string acct =
            key + "\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001";
        setString(RootKey::CurrentUser, acct, "Account Name", "mail.example.com");
        setString(RootKey::CurrentUser, acct, "POP3 Server", "mail.example.com");
        setString(RootKey::CurrentUser, acct, "SMTP Server", "smtp.example.com");
        setString(RootKey::CurrentUser, acct, "SMTP Email Address",
                  id.name.substr(0, id.name.find(' ')) + "@example.com");

        std::string store = storeRoot;
        if (store.starts_with("%UserProfile%"))
            store = profileFolder(m) + store.substr(std::string_view("%UserProfile%").size());
        if (store.ends_with('\\')) store.pop_back();
        for (const char* f : {"Folders.dbx", "Inbox.dbx", "Outbox.dbx", "Sent Items.dbx",
                              "Deleted Items.dbx", "Drafts.dbx", "Offline.dbx", "Pop3uidl.dbx"})
            m.writeFile(store + "\\" + f, binary(id.name + " " + f));
        m.writeFile(store + "\\.cleanup.log", "compacted " + id.name + "\r\n");
        m.writeFile(store + "\\Old Folders\\Inbox.dbx", binary(id.name + " old Inbox.dbx"));
        out.storeFolders.push_back(store);
    }
    setString(RootKey::CurrentUser,
              "\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001", "Account Name",
              "Directory Service");
    out.wabFile = appDataFolder(m) + "\\Microsoft\\Address Book\\" + m.user() + ".wab";
    setString(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "",
              out.wabFile);
    setDword(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4", "FirstRun", 1);
    m.writeFile(out.wabFile, binary("wab"));
    m.writeFile(platform::changeFileExt(out.wabFile, ".wa~"), binary("wab backup"));
    out.stationeryFolder = "C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery";
    setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
              "Stationery Folder", out.stationeryFolder + "\\");
    m.writeFile(out.stationeryFolder + "\\Ivy.htm",
                "<html><body background=\"Ivy.gif\"></body></html>");
    m.writeFile(out.stationeryFolder + "\\Ivy.gif", binary("gif"));
    m.writeFile(out.stationeryFolder + "\\Sample Pack\\Blue Note.htm",
                "<html><body>Blue Note</body></html>");
    return out;
}

// ---- Outlook -------------------------------------------------------------------

namespace {

void setStorePath(const std::string& key, const std::string& path, StorePathForm form) {
    switch (form) {
        case StorePathForm::Text:
            setString(RootKey::CurrentUser, key, "001e6700", path);
            break;
        case StorePathForm::AnsiBinary: {
            std::vector<uint8_t> bytes(path.begin(), path.end());
            bytes.push_back(0);
            setBinary(RootKey::CurrentUser, key, "001e6700", bytes);
            break;
        }
        case StorePathForm::Utf16Binary:
            setBinary(RootKey::CurrentUser, key, "001e6700", platform::utf8ToUtf16Bytes(path));
            break;
    }
}

}  // namespace

OutlookInstall installOutlook(const FakeMachine& m, const OutlookOptions& options) {
    OutlookInstall out;
    out.profile = options.profile;
    registerMailClient("Microsoft Outlook");
    const std::string profiles =
        options.windowsNt ? "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging "
                            "Subsystem\\Profiles"
                          : "\\Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
    setString(RootKey::CurrentUser, profiles, "DefaultProfile", out.profile);
    out.outlookFolder = appDataFolder(m) + "\\Microsoft\\Outlook";
    out.localOutlookFolder = localAppDataFolder(m) + "\\Microsoft\\Outlook";
    const std::string pst = out.localOutlookFolder + "\\Outlook.pst";
    out.profileKey = profiles + "\\" + out.profile;
    const std::string& base = out.profileKey;
    // Service names are fixed MAPI identifiers; registry order is their order here.
    setString(RootKey::CurrentUser, base + "\\0a0d020000000000c000000000000046", "001f0324",
              "Outlook");
    setBinary(RootKey::CurrentUser, base + "\\0a0d020000000000c000000000000046", "01023d01",
              {0x5a, 0xc3, 0xe4, 0xe8, 0x00, 0xff});
    setStorePath(base + "\\5ac3e4e8a5f1e84ba4e3c58b0e3c1f01", pst, options.storePaths);
    setString(RootKey::CurrentUser, base + "\\9375CFF0413111d3B88A00104B2A6676\\00000001",
              "Account Name", "mail.example.com");
    setDword(RootKey::CurrentUser, base + "\\9375CFF0413111d3B88A00104B2A6676\\00000001",
             "POP3 Port", 110);
    m.writeFile(pst, binary("pst"));
    out.pstFiles = {pst};
    if (!options.minimal) {
        const std::string archive = "C:\\Mail Archive\\archive.pst";
        const std::string projects = "C:\\Mail Archive\\Old Projects.pst";
        const std::string family = "C:\\Shared Mail\\family.pst";
        out.otherLocalStore = localAppDataFolder(m) + "\\Mail Backup\\2004 mail.pst";
        setStorePath(base + "\\9207f3e0a3b11019908b08002b2a56c2", archive, options.storePaths);
        setStorePath(base + "\\a1b2c3d4e5f60718293a4b5c6d7e8f90", projects, options.storePaths);
        setStorePath(base + "\\b2c3d4e5f60718293a4b5c6d7e8f90a1", out.otherLocalStore,
                     options.storePaths);
        setStorePath(base + "\\c3d4e5f60718293a4b5c6d7e8f90a1b2", family, options.storePaths);
        // A store that was deleted long ago: the profile still names it.
        setStorePath(base + "\\d4e5f60718293a4b5c6d7e8f90a1b2c3", "C:\\Gone\\old.pst",
                     options.storePaths);
        for (const std::string& f : {archive, projects, out.otherLocalStore, family})
            m.writeFile(f, binary(f));
        out.outsideStores = {archive, projects, family};
        out.pstFiles.insert(out.pstFiles.end(), {projects, out.otherLocalStore, family, archive});
        m.writeFile(out.outlookFolder + "\\outcmd.dat", binary("outcmd"));
        m.writeFile(out.outlookFolder + "\\Outlook.NK2", binary("nk2"));
        m.writeFile(out.outlookFolder + "\\Send Receive.srs", binary("srs"));
        m.writeFile(out.outlookFolder + "\\Forms\\frmcache.dat", binary("forms"));
        m.writeFile(out.localOutlookFolder + "\\extend.dat", binary("extend"));
        m.writeFile(out.localOutlookFolder + "\\.outlook.lock", "hidden");
        m.writeFile(out.localOutlookFolder + "\\Offline Address Book\\oab.lzx", binary("oab"));
    }
    setDword(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\11.0\\Outlook", "MailSettings",
             1);
    setString(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\11.0\\Outlook\\Preferences",
              "ShowReminders", "1");
    setString(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\Outlook\\OST", "NoOST", "0");
    setString(RootKey::CurrentUser,
              "\\Software\\Microsoft\\Office\\" + options.officeVersion + "\\Common\\General",
              "Signatures", options.signatures);
    out.signaturesFolder = appDataFolder(m) + "\\Microsoft\\" + options.signatures;
    m.writeFile(out.signaturesFolder + "\\Work.htm", "<html><body>Regards</body></html>");
    m.writeFile(out.signaturesFolder + "\\Work.txt", "Regards\r\n");
    if (!options.minimal) {
        m.writeFile(out.signaturesFolder + "\\Work_files\\image001.jpg", binary("jpg"));
        m.writeFile(out.signaturesFolder + "\\Private Note.rtf", "{\\rtf1 Cheers}");
    }
    return out;
}

// ---- Eudora --------------------------------------------------------------------

EudoraInstall installEudora(const FakeMachine& m, std::string folder, bool quoted) {
    registerMailClient("Eudora");
    const std::string commandLine =
        quoted ? "\"C:\\Program Files\\Qualcomm\\Eudora\\Eudora.exe\" \"" + folder + "\" \"" +
                     folder + "\\eudora.ini\""
               : folder + "\\Eudora.exe " + folder + " " + folder + "\\eudora.ini";
    setString(RootKey::ClassesRoot, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine\\Current", "",
              commandLine);
    setString(RootKey::CurrentUser, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine", "Current",
              commandLine);
    m.writeFile(folder + "\\eudora.ini",
                "[Settings]\r\nPOPAccount=ann@mail.example.com\r\nRealName=Ann\r\n");
    for (const char* box : {"In", "Out", "Trash"}) {
        m.writeFile(folder + "\\" + box + ".mbx", std::string("From ???@??? Mon Jan 05 2004\r\n"));
        m.writeFile(folder + "\\" + box + ".toc", binary(box));
    }
    m.writeFile(folder + "\\descmap.pce",
                "In,In.mbx,S,N\r\nWork,Work.fol,F,N\r\nPersonal,Personal.fol,F,N\r\n");
    m.writeFile(folder + "\\Work.fol\\descmap.pce",
                "Projects,Projects.mbx,M,N\r\nClient Projects,Client Projects.mbx,M,N\r\n");
    m.writeFile(folder + "\\Work.fol\\Projects.mbx", "From ???@???\r\n");
    m.writeFile(folder + "\\Work.fol\\Projects.toc", binary("toc"));
    m.writeFile(folder + "\\Work.fol\\Client Projects.mbx", "From client@example.com\r\n");
    m.writeFile(folder + "\\Work.fol\\Client Projects.toc", binary("client toc"));
    m.writeFile(folder + "\\Work.fol\\Old.fol\\descmap.pce", "2003,2003.mbx,M,N\r\n");
    m.writeFile(folder + "\\Work.fol\\Old.fol\\2003.mbx", "From ???@???\r\n");
    // Two ".pce" files in one folder, and an index Eudora hid.
    m.writeFile(folder + "\\Personal.fol\\descmap.pce", "Family,Family.mbx,M,N\r\n");
    m.writeFile(folder + "\\Personal.fol\\sortmap.pce", "Family,date\r\n");
    m.writeFile(folder + "\\Personal.fol\\Family.mbx", "From mum@example.com\r\n");
    m.writeFile(folder + "\\Personal.fol\\.Family.toc", binary("hidden toc"));
    m.writeFile(folder + "\\Spool\\spool.tmp", binary("spool"));
    m.writeFile(folder + "\\Spool\\.queue.lck", "hidden");
    m.writeFile(folder + "\\Filters\\Work.flt", "rule Work\r\n");
    m.writeFile(folder + "\\filters.pce", "rule Newsletters\r\n");
    m.writeFile(folder + "\\Sigs\\Standard.txt", "-- \r\nAnn\r\n");
    m.writeFile(folder + "\\Sigs\\Alternate Sig.txt", "-- \r\nA.\r\n");
    m.writeFile(folder + "\\Stationery\\Thanks.sta", "Thank you!\r\n");
    m.writeFile(folder + "\\Attach\\report.doc", binary("doc"));
    m.writeFile(folder + "\\nndbase.txt", "alias bob bob@example.com\r\n");
    m.writeFile(folder + "\\nndbase.toc", binary("nndbase"));
    return {folder, commandLine};
}

// ---- IncrediMail ---------------------------------------------------------------

IMInstall installIncrediMail(const FakeMachine& m, bool perUser,
                             const std::vector<IMIdentity>& identities,
                             const std::string& contentFolder) {
    IMInstall out;
    registerMailClient("IncrediMail");
    out.applicationFolder = localAppDataFolder(m) + "\\IM";
    const RootKey root = perUser ? RootKey::CurrentUser : RootKey::LocalMachine;
    if (perUser) {
        // Current versions: identities per user, the content shared by all users.
        out.contentFolder =
            contentFolder.empty() ? "C:\\Program Files\\IncrediMail\\Data" : contentFolder;
        setString(RootKey::LocalMachine, "\\SOFTWARE\\IncrediMail", "CommonDataPath",
                  out.contentFolder);
        setString(RootKey::LocalMachine, "\\SOFTWARE\\IncrediMail", "ApplicationPath",
                  "C:\\Program Files\\IncrediMail");
        setString(RootKey::CurrentUser, "\\SOFTWARE\\IncrediMail", "ApplicationPath",
                  out.applicationFolder);
    } else {
        // Older versions keep everything in the one application folder.
        out.contentFolder = out.applicationFolder;
        setString(RootKey::LocalMachine, "\\SOFTWARE\\IncrediMail", "ApplicationPath",
                  out.applicationFolder);
    }
    for (const IMIdentity& id : identities) {
        const std::string key = "\\SOFTWARE\\IncrediMail\\Identities\\" + id.key;
        setString(root, key, "Identity", id.name);
        if (id.isValid) setDword(root, key, "IsValid", *id.isValid);
        setDword(root, key, "LastUsed", 1);
        setBinary(root, key, "WindowPos", {0x10, 0x00, 0x20, 0x00, 0x80, 0x02, 0xE0, 0x01});
        setString(root, key + "\\Accounts\\Account1", "Email", "user@example.com");
        setString(root, key + "\\Accounts\\Account1", "Name", id.name + " at home");
        setString(root, key + "\\Accounts\\Account1\\POP3", "Server", "pop.example.com");
        setDword(root, key + "\\Accounts\\Account1\\POP3", "Port", 110);
        setString(root, key + "\\Rules\\Rule1", "Name", "Move newsletters");
        setString(root, key + "\\Rules\\Rule1\\Condition1", "Contains", "newsletter");
        const std::string folder = out.applicationFolder + "\\Identities\\" + id.key;
        const std::string store = folder + "\\Message Store";
        m.writeFile(store + "\\Inbox.imm", binary("imm of " + id.key));
        m.writeFile(store + "\\Inbox.imh", binary("imh"));
        m.writeFile(store + "\\Sent Items.imm", binary("sent"));
        m.writeFile(store + "\\.Folders.dat", binary("hidden folder list"));
        m.writeFile(store + "\\Work\\Project Plans.imm", binary("work"));
        m.writeFile(store + "\\Work\\Old\\2004 Archive.imm", binary("old"));
        m.writeFile(store + "\\Attachments\\photo.jpg", binary("jpg"));
        m.writeFile(store + "\\Attachments\\holiday notes.txt", "notes\r\n");
        m.writeFile(folder + "\\AddressBook\\AddressBook.db", binary("ab"));
        m.writeFile(folder + "\\AddressBook\\Groups\\Family list.dat", binary("family"));
        m.writeFile(folder + "\\RuleOrder.dat", binary("rules"));
    }
    for (const char* content :
         {"Animation", "ECard", "Emoticon", "Letter", "Notifier", "Skin", "Sound", "Image"}) {
        setString(root, std::string("\\SOFTWARE\\IncrediMail\\Content\\") + content, "Path",
                  out.contentFolder + "\\" + content);
        m.writeFile(out.contentFolder + "\\" + content + "\\item1.imc", binary(content));
    }
    m.writeFile(out.contentFolder + "\\Letter\\Sunny Day\\letter.htm", "<html></html>");
    m.writeFile(out.contentFolder + "\\Letter\\Sunny Day\\background.jpg", binary("bg"));
    return out;
}

// ---- Pegasus Mail --------------------------------------------------------------

namespace {

void writePegasusMailFolder(const FakeMachine& m, const std::string& folder) {
    m.writeFile(folder + "\\HIERARCH.PM", "FOLDER1.PMM\r\nFOLDER2.PMM\r\n");
    m.writeFile(folder + "\\FOLDER1.PMM", binary("pmm"));
    m.writeFile(folder + "\\FOLDER1.PMI", binary("pmi"));
    m.writeFile(folder + "\\PMAIL.INI", "[Settings]\r\n");
    m.writeFile(folder + "\\ADDRBOOK.PMR", binary("pmr"));
    m.writeFile(folder + "\\Sent mail copy.CNM", "From: user@example.com\r\n");
    m.writeFile(folder + "\\.lock", "");
    m.writeFile(folder + "\\Old Mail\\1999\\FOLDER2.PMM", binary("old pmm"));
}

}  // namespace

PegasusInstall installPegasus(const FakeMachine& m, const std::vector<std::string>& users,
                              const std::string& baseFolder) {
    PegasusInstall out{baseFolder, baseFolder + "\\MAIL"};
    registerMailClient("Pegasus Mail");
    const std::string key = "\\SOFTWARE\\Classes\\software\\pegasus mail";
    setString(RootKey::LocalMachine, key + "\\MailBox", "", out.mailboxPath);
    setString(RootKey::LocalMachine, key + "\\Username", "",
              users.empty() ? "single-user mode" : "multi-user mode");
    setString(RootKey::LocalMachine, key + "\\shell\\open\\command", "",
              out.baseFolder + "\\PROGRAMS\\WINPM-32.EXE");
    m.writeFile(out.baseFolder + "\\PROGRAMS\\WINPM-32.EXE", binary("exe"));
    if (users.empty()) {
        writePegasusMailFolder(m, out.mailboxPath);
        return out;
    }
    std::string list;
    for (const std::string& user : users) {
        list += "Y " + user + ";" + user + " (Pegasus user)\r\n";
        writePegasusMailFolder(m, out.baseFolder + "\\" + user);
        m.writeFile(out.baseFolder + "\\" + user + "\\" + user + ".PML", "-- \r\n" + user);
    }
    m.writeFile(out.baseFolder + "\\PMAIL.USR", list);
    return out;
}

// ---- The Bat! ------------------------------------------------------------------

std::vector<std::string> batMailFolders() {
    return {".Archive", "Inbox",     "Inbox\\Lists", "Inbox\\Lists\\Old Threads",
            "Outbox",   "Sent Mail", "Trash"};
}

BatInstall installTheBat(const FakeMachine& m, const std::vector<BatUser>& users,
                         const std::string& workingFolder) {
    BatInstall out;
    registerMailClient("The Bat!");
    out.workingFolder = workingFolder;
    setString(RootKey::CurrentUser, "\\Software\\RIT\\The Bat!", "Working Directory",
              out.workingFolder + "\\");
    const std::string depot = "\\Software\\RIT\\The Bat!\\Users Depot";
    setDword(RootKey::CurrentUser, depot, "Count", static_cast<int32_t>(users.size()));
    int n = 0;
    for (const BatUser& u : users) {
        ++n;
        setString(RootKey::CurrentUser, depot, "User #" + std::to_string(n), u.name);
        setString(RootKey::CurrentUser, depot, "Dir #" + std::to_string(n), u.dir);
        const std::string folder = u.dir.empty() ? out.workingFolder + "\\" + u.name : u.dir;
        for (const char* f :
             {"account.cfg", "account.vcf", "account.flx", "account.m_d", "account.m_r",
              "account.pfx", "account.qtn", "account.sce", "account.srx"})
            m.writeFile(folder + "\\" + f, binary(u.name + " " + f));
        for (const std::string& box : batMailFolders()) {
            m.writeFile(folder + "\\" + box + "\\Messages.tbb",
                        binary(u.name + " " + box + " tbb"));
            m.writeFile(folder + "\\" + box + "\\Messages.tbi",
                        binary(u.name + " " + box + " tbi"));
        }
        m.writeFile(folder + "\\Inbox\\.lock", "");
        out.userFolders.push_back(folder);
    }
    m.writeFile(out.workingFolder + "\\MainAB.abd", binary("abd"));
    m.writeFile(out.workingFolder + "\\.Private Contacts.abd", binary("private abd"));
    m.writeFile(out.workingFolder + "\\Groups.cfg", binary("groups"));
    m.writeFile(out.workingFolder + "\\Addrbook.ini", "[Address Books]\r\nMainAB=1\r\n");
    m.writeFile(out.workingFolder + "\\TheBat.exe", binary("program"));
    return out;
}

// ---- PocoMail ------------------------------------------------------------------

std::string pocoIniText(const std::string& usersFolder) {
    return "[Program]\r\nMailPath=Mail\\\r\nAddressPath=Address\\\r\nScriptPath=Scripts\\\r\n"
           "SigPath=Signatures\\\r\nTemplatePath=Templates\\\r\nUsersPath=" +
           usersFolder + "\\\r\n[Mail]\r\nAttachPath=Attach\\\r\n";
}

namespace {

void writePocoUser(const FakeMachine& m, const std::string& folder, const std::string& users) {
    m.writeFile(folder + "\\poco.ini", pocoIniText(users));
    m.writeFile(folder + "\\accounts.ini", "[Account1]\r\nEmail=user@example.com\r\n");
    m.writeFile(folder + "\\Filters.ini", "[Filter1]\r\nName=Lists\r\n");
    m.writeFile(folder + "\\Mail\\Inbox.mbx", "From user@example.com\r\n" + folder + "\r\n");
    m.writeFile(folder + "\\Mail\\Inbox.itx", binary("itx"));
    m.writeFile(folder + "\\Mail\\.sort.tmp", "hidden");
    m.writeFile(folder + "\\Address\\Address.dat", binary("address"));
    m.writeFile(folder + "\\Address\\Old Lists\\Friends.dat", binary("friends"));
    m.writeFile(folder + "\\Scripts\\Hello.pms", "Message \"Hello\"\r\n");
    m.writeFile(folder + "\\Signatures\\Default.sig", "-- \r\nUser\r\n");
    m.writeFile(folder + "\\Templates\\Reply.tpl", "Dear %name%\r\n");
    m.writeFile(folder + "\\Attach\\read me.txt", "attachment\r\n");
}

}  // namespace

PocoInstall installPocoMail(const FakeMachine& m, int32_t version,
                            const std::vector<std::string>& users, const std::string& folder) {
    PocoInstall out;
    registerMailClient("PocoMail");
    switch (version) {
        case kind::PocoMail2:
            out.folder = "C:\\Program Files\\PocoMail";
            break;
        case kind::PocoMail3:
            out.folder = "C:\\Program Files\\Poco Systems Inc\\PocoMail3";
            break;
        case kind::PocoMail2PE:
            out.folder = "C:\\PocoMailPE";
            break;
        default:
            throw std::runtime_error("fixture: not a PocoMail version");
    }
    if (!folder.empty()) out.folder = folder;
    switch (version) {
        case kind::PocoMail2:
            setString(RootKey::CurrentUser, "\\Software\\Poco\\Mail", "Path", out.folder);
            break;
        case kind::PocoMail3:
            setString(RootKey::CurrentUser, "\\Software\\Poco Systems Inc\\PocoMail 3", "Path",
                      out.folder);
            break;
        default:
            setString(RootKey::LocalMachine,
                      "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                      "pocomail2moe_is1",
                      "Inno Setup: App Path", out.folder);
            break;
    }
    const std::string usersFolder = out.folder + "\\users";
    writePocoUser(m, out.folder, usersFolder);
    m.writeFile(out.folder + "\\Mail\\Work\\Project.mbx", "From boss@example.com\r\n");
    m.writeFile(out.folder + "\\Mail\\Work\\Project.itx", binary("project itx"));
    m.writeFile(out.folder + "\\Mail\\Work\\Clients.mbx", "From client@example.com\r\n");
    m.writeFile(out.folder + "\\Mail\\Work\\notes.txt", "not a mailbox");
    m.writeFile(out.folder + "\\Mail\\Work\\2005\\Old.mbx", "From boss@example.com\r\n");
    m.writeFile(out.folder + "\\Mail\\Work\\2005\\Old.dat", binary("old dat"));
    for (const std::string& u : users)
        writePocoUser(m, usersFolder + "\\" + u, usersFolder);
    if (!users.empty()) m.writeFile(usersFolder + "\\users.lst", "\r\n");
    return out;
}

// ---- Opera ---------------------------------------------------------------------

OperaInstall installOpera6(const FakeMachine& m, const std::vector<std::string>& accounts) {
    OperaInstall out{"C:\\Program Files\\Opera\\"};
    registerMailClient("Opera");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine",
              out.folder + "Opera.exe");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last Directory",
              "C:\\Program Files\\Opera");
    m.writeFile(out.folder + "Opera.exe", binary("exe"));
    m.writeFile(out.folder + "Contacts.adr", "Opera Hotlist version 2.0\r\n");
    std::string ini = "Opera Preferences version 2.0\r\n\r\n[Accounts]\r\nCount=" +
                      std::to_string(accounts.size()) + "\r\n";
    int n = 0;
    for (const std::string& a : accounts) {
        ini += "Account" + std::to_string(++n) + "=POP?" + a + ",1\r\n";
        const std::string folder = out.folder + "Mail\\" + a;
        m.writeFile(folder + "\\Account.ini", "[OUTGOING]\r\nSignatureFile=" + folder +
                                                  "\\sig.txt\r\n[INCOMING]\r\nServer=pop." + a +
                                                  ".example.com\r\n");
        m.writeFile(folder + "\\sig.txt", "-- \r\n" + a + "\r\n");
        m.writeFile(folder + "\\filters.dat", binary("filters"));
        m.writeFile(folder + "\\Folder.ini", "[Folder]\r\nName=" + a + "\r\n");
        for (const char* box : {"Drafts", "Inbox", "Outbox", "Sent", "Trash"}) {
            m.writeFile(folder + "\\" + box + ".IDX", binary("idx"));
            m.writeFile(folder + "\\" + box + ".MBS", binary("mbs"));
        }
        m.writeFile(folder + "\\Inbox\\folder.ini", "[Folder]\r\n");
        m.writeFile(folder + "\\Inbox\\Inbox.idx", binary("idx"));
        m.writeFile(folder + "\\Inbox\\Inbox.mbs", binary("mbs"));
        // A mail folder inside another, one with a blank in its name holding two
        // message files (one hidden), and a file that is no mail beside them.
        m.writeFile(folder + "\\Inbox\\Old\\folder.ini", "[Folder]\r\nName=Old\r\n");
        m.writeFile(folder + "\\Inbox\\Old\\Old.idx", binary("old idx " + a));
        m.writeFile(folder + "\\Inbox\\Old\\Old.mbs", binary("old mbs " + a));
        m.writeFile(folder + "\\Mailing Lists\\folder.ini", "[Folder]\r\nName=Lists\r\n");
        m.writeFile(folder + "\\Mailing Lists\\Mailing Lists.idx", binary("lists idx"));
        m.writeFile(folder + "\\Mailing Lists\\Mailing Lists.mbs", binary("lists mbs " + a));
        m.writeFile(folder + "\\Mailing Lists\\.Digest.mbs", binary("hidden digest"));
        m.writeFile(folder + "\\Mailing Lists\\notes.txt", "not mail\r\n");
    }
    ini += "\r\n[Settings]\r\nLastAccount=1\r\n";
    m.writeFile(out.folder + "Mail\\accounts.ini", ini);
    return out;
}

OperaInstall installOpera7(const FakeMachine& m) {
    OperaInstall out{appDataFolder(m) + "\\Opera\\Opera7"};
    registerMailClient("Opera");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine v2",
              "C:\\Program Files\\Opera7\\Opera.exe");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last Directory v2",
              "C:\\Program Files\\Opera7");
    m.writeFile(out.folder + "\\Mail\\accounts.ini",
                "Opera Preferences version 2.0\r\n\r\n[Accounts]\r\nCount=1\r\n\r\n[Account1]\r\n"
                "Incoming Servername=pop.example.com\r\n");
    m.writeFile(out.folder + "\\Mail\\index.ini", "[Index 0]\r\n");
    m.writeFile(out.folder + "\\Mail\\Cache\\hfcache0.hca", binary("hca"));
    m.writeFile(out.folder + "\\Mail\\index\\0.idx", binary("idx"));
    m.writeFile(out.folder + "\\Mail\\storage\\omailbase.dat", binary("omailbase"));
    m.writeFile(out.folder + "\\Mail\\storage\\2004\\mail 0001.mbs", binary("mail 2004"));
    m.writeFile(out.folder + "\\Mail\\Cache\\sub cache\\hfcache1.hca", binary("hca 1"));
    m.writeFile(out.folder + "\\Mail\\.lock", "");
    m.writeFile(out.folder + "\\Mail\\signature 1.txt", "-- \r\nOpera user\r\n");
    m.writeFile(out.folder + "\\profile\\contacts.adr", "Opera Hotlist version 2.0\r\n");
    return out;
}

// ---- Netscape ------------------------------------------------------------------

std::vector<Netscape4User> installNetscape4(const FakeMachine& m,
                                            const std::vector<std::string>& users) {
    std::vector<Netscape4User> out;
    registerMailClient("Netscape Messenger");
    const std::string nav = "\\Software\\Netscape\\Netscape Navigator";
    setString(RootKey::CurrentUser, nav + "\\Main", "Install Directory",
              "C:\\Program Files\\Netscape\\Communicator\\Program");
    m.writeFile("C:\\windows\\nsreg.dat", binary("nsreg"));
    for (const std::string& u : users) {
        const std::string folder = "C:\\Program Files\\Netscape\\Users\\" + u + "\\";
        setString(RootKey::CurrentUser, nav + "\\" + u, "DirRoot", folder);
        setString(RootKey::CurrentUser, nav + "\\biff\\users\\" + u + "\\servers\\pop.example.com",
                  "popstatePath", folder + "mail\\popstate.dat");
        m.writeFile(folder + "prefs.js",
                    "user_pref(\"mail.identity.username\", \"" + u + "\");\r\n");
        m.writeFile(folder + "liprefs.js", "// li prefs\r\n");
        m.writeFile(folder + "pab.na2", binary("na2"));
        m.writeFile(folder + "mail\\popstate.dat", binary("popstate"));
        m.writeFile(folder + "mail\\Inbox", "From - Mon Jan 05 2004\r\n");
        m.writeFile(folder + "mail\\Inbox.snm", binary("snm"));
        m.writeFile(folder + "mail\\Inbox.sbd\\Old", "From - Mon Jan 05 2003\r\n");
        m.writeFile(folder + "mail\\Inbox.sbd\\Old.sbd\\2002", "From - Mon Jan 05 2002\r\n");
        // A second address book, a mail folder with a blank in its name and a
        // hidden summary file, and settings in a subkey of the user's key.
        m.writeFile(folder + "work contacts.na2", binary("na2 work"));
        m.writeFile(folder + "mail\\Sent Items", "From - Tue Jan 06 2004\r\n");
        m.writeFile(folder + "mail\\Inbox.sbd\\Old.sbd\\.2002.snm", binary("snm 2002"));
        setDword(RootKey::CurrentUser, nav + "\\" + u, "Flags", 3);
        setString(RootKey::CurrentUser, nav + "\\" + u + "\\Mail", "POP Server", "pop.example.com");
        out.push_back({u, folder});
    }
    return out;
}

std::vector<MozillaProfile> installMozilla(const FakeMachine& m,
                                           const std::vector<std::string>& profiles) {
    std::vector<MozillaProfile> out;
    registerMailClient("Netscape 7.1");
    const std::string mozilla = appDataFolder(m) + "\\Mozilla";
    MozillaRegistryWriter reg;
    const int32_t tree = reg.addKey(reg.common(), "Profiles");
    reg.setString(tree, "Version", "5.0");
    reg.setString(tree, "HavePregInfo", "no");
    int n = 0;
    for (const std::string& name : profiles) {
        // The browser salts the profile's own folder with a random name.
        const std::string salt = std::string("k3j4l") + static_cast<char>('a' + n++) + "m2.slt";
        const std::string folder = mozilla + "\\Profiles\\" + name + "\\" + salt;
        const int32_t key = reg.addKey(tree, name);
        reg.setString(key, "directory", folder);
        reg.setString(key, "migrated", "yes");
        reg.setString(key, "NCHavePregInfo", "no");
        for (const char* f : {"prefs.js", "abook.mab", "history.mab", "panacea.dat", "xul.mfl",
                              "localstore.rdf", "panels.rdf"})
            m.writeFile(folder + "\\" + f, binary(f));
        m.writeFile(folder + "\\Mail\\pop.example.com\\Inbox", "From - Mon Jan 05 2004\r\n");
        m.writeFile(folder + "\\Mail\\pop.example.com\\Inbox.msf", binary("msf"));
        m.writeFile(folder + "\\Mail\\Local Folders\\Trash", "");
        // Nested mail folders, a hidden file and a file that is not saved.
        m.writeFile(folder + "\\Mail\\Local Folders\\Trash.msf", binary("trash msf"));
        m.writeFile(folder + "\\Mail\\Local Folders\\Projects.sbd\\Old Stuff",
                    "From - Mon Jan 05 2003\r\n");
        m.writeFile(folder + "\\Mail\\Local Folders\\Projects.sbd\\.Old Stuff.msf",
                    binary("old msf"));
        m.writeFile(folder + "\\Mail\\Local Folders\\Projects", "");
        m.writeFile(folder + "\\bookmarks.html", "<html></html>");
        out.push_back({name, folder});
    }
    if (!profiles.empty()) reg.setString(tree, "CurrentProfile", profiles.front());
    const auto& bytes = reg.bytes();
    m.writeFile(mozilla + "\\registry.dat",
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return out;
}

// ---- Favorites -----------------------------------------------------------------

std::vector<std::string> installFavorites(const FakeMachine& m) {
    const std::string fav = favoritesFolder(m);
    std::vector<std::string> files = {fav + "\\Example.url",
                                      fav + "\\.Private Bank.url",
                                      fav + "\\Archive\\2003\\Old Site.url",
                                      fav + "\\Links\\News.url",
                                      fav + "\\Links\\Weather.url",
                                      fav + "\\Work\\Projects\\Tracker.url",
                                      fav + "\\Work\\Projects\\Q1 Reports\\Budget Sheet.url"};
    for (const std::string& f : files)
        m.writeFile(f, url("http://www.example.com/" + platform::extractFileName(f)));
    // Beside the shortcuts: files the browser and the person leave there.
    m.writeFile(fav + "\\desktop.ini", "[.ShellClassInfo]\r\nLocalizedResourceName=Favorites\r\n");
    m.writeFile(fav + "\\Links\\desktop.ini", "[.ShellClassInfo]\r\n");
    m.writeFile(fav + "\\Work\\notes.txt", "not a shortcut\r\n");
    m.writeFile(fav + "\\Work\\Projects\\plan.doc", binary("doc"));
    m.writeFile(fav + "\\Empty Folder\\readme.txt", "no shortcuts here\r\n");
    return files;
}

}  // namespace qb::test
