// Realistic client installations on a fake machine: the registry keys and the
// files each e-mail client keeps, laid out as the client itself lays them out.
// Every installer works on the current machine (a FakeMachine), writes the
// registry through platform::Registry and files by Windows path, and returns the
// places it used so that backup and restore tests can check them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "testkit/testkit.h"

namespace qb::test {

using platform::RootKey;

// Registry writes for fixtures: each opens (creating) the key, writes, lets go.
void createKey(RootKey root, std::string_view key);
void setString(RootKey root, std::string_view key, std::string_view name, std::string_view value);
void setExpandString(RootKey root, std::string_view key, std::string_view name,
                     std::string_view value);
void setDword(RootKey root, std::string_view key, std::string_view name, int32_t value);
void setBinary(RootKey root, std::string_view key, std::string_view name,
               const std::vector<uint8_t>& value);

// The machine's folders of the fake user.
std::string profileFolder(const FakeMachine& m);  // C:\users\<user>
std::string appDataFolder(const FakeMachine& m);  // ...\AppData\Roaming
std::string localAppDataFolder(const FakeMachine& m);
std::string favoritesFolder(const FakeMachine& m);

// A mail client registered with Windows: HKLM\Software\Clients\Mail\<name>.
void registerMailClient(std::string_view name);
// The default mail client: the default value of HKLM\Software\Clients\Mail.
void setDefaultMailClient(std::string_view name);

// The binary profile registry of Netscape 6/7 and Mozilla ("registry.dat"): a
// 128-byte header area (magic, version 1.2, next free offset, root offset), then
// names, values and 32-byte node records appended in the order the browser
// writes them, all numbers little-endian. Keys are linked as a tree (first child,
// next sibling, parent); a key's entries form a list, newest first.
class MozillaRegistryWriter {
  public:
    MozillaRegistryWriter();  // the root "/" and the standard top-level keys
    int32_t root() const { return root_; }
    int32_t users() const { return users_; }
    int32_t common() const { return common_; }
    // Appends a subkey below `parent` (last among its siblings); returns its offset.
    int32_t addKey(int32_t parent, std::string_view name);
    // Appends a UTF-8 string entry to `key`.
    void setString(int32_t key, std::string_view name, std::string_view value);
    // Marks a key deleted and takes it out of its parent's list, as deleting a
    // profile does; its bytes stay in the file.
    void deleteKey(int32_t parent, int32_t key);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    int32_t appendBytes(std::string_view data);  // data plus its terminating NUL
    int32_t appendNode(int32_t name, uint16_t nameLen, uint16_t type, int32_t parent);
    int32_t read32(int32_t at) const;
    void write32(int32_t at, int32_t v);
    void write16(int32_t at, uint16_t v);
    std::vector<uint8_t> bytes_;
    int32_t root_ = 0, users_ = 0, common_ = 0;
};

// ---- Outlook Express -------------------------------------------------------
struct OEIdentity {
    std::string name;  // "Username", what the person sees
    std::string guid;  // the identity key, "{...}"
};
struct OEInstall {
    std::vector<std::string> storeFolders;  // per identity, expanded
    std::string wabFile;
    std::string stationeryFolder;
};
OEInstall installOutlookExpress(const FakeMachine& m,
                                const std::vector<OEIdentity>& identities = {
                                    {"Main Identity", "{3F1B2E8A-6C1D-4E7B-9A52-0D4C8E7F1A21}"},
                                    {"Ann", "{B7A4C0D2-1E3F-4A5B-8C6D-7E8F9A0B1C2D}"}});

// ---- Outlook ----------------------------------------------------------------
struct OutlookInstall {
    std::string profile;  // mail profile name
    std::vector<std::string> pstFiles;
    std::string signaturesFolder;
};
OutlookInstall installOutlook(const FakeMachine& m);

// ---- Eudora -----------------------------------------------------------------
struct EudoraInstall {
    std::string folder;  // the data folder
};
// The data folder holds the settings, mailboxes, a mail folder tree Work.fol
// with a nested Old.fol, Spool, Filters, Sigs, Stationery and the address book.
EudoraInstall installEudora(const FakeMachine& m, std::string folder = "C:\\Eudora");

// ---- IncrediMail ------------------------------------------------------------
struct IMIdentity {
    std::string key;                 // subkey and folder name
    std::string name;                // "Identity" value ("" writes an empty one)
    std::optional<int32_t> isValid;  // no value: "IsValid" absent
};
struct IMInstall {
    std::string applicationFolder;  // A; identities below A\Identities
    std::string contentFolder;      // CF
};
// perUser: identities under the current user (as current versions keep them),
// else under the machine only.
IMInstall installIncrediMail(const FakeMachine& m, bool perUser,
                             const std::vector<IMIdentity>& identities = {
                                 {"{1A2B3C4D-0000-4000-8000-000000000001}", "Ann", std::nullopt},
                                 {"{1A2B3C4D-0000-4000-8000-000000000002}", "Bob", 1}});

// ---- Pegasus Mail -----------------------------------------------------------
struct PegasusInstall {
    std::string baseFolder;   // C:\PMAIL
    std::string mailboxPath;  // the "MailBox" value
};
// Without users: single-user mode, the mail in base\MAIL. With users (pmail.usr
// lines "Y NAME;Personal name"): multi-user mode, one folder per user.
PegasusInstall installPegasus(const FakeMachine& m, const std::vector<std::string>& users = {});

// ---- The Bat! ---------------------------------------------------------------
struct BatUser {
    std::string name;
    std::string dir;  // "Dir #n"; "" for the default place below the working folder
};
struct BatInstall {
    std::string workingFolder;  // without trailing backslash
    std::vector<std::string> userFolders;
};
BatInstall installTheBat(const FakeMachine& m, const std::vector<BatUser>& users = {
                                                   {"Ann", ""}, {"Bob", "C:\\BatMail\\Bob"}});

// ---- PocoMail ---------------------------------------------------------------
struct PocoInstall {
    std::string folder;  // P
};
// version: kind::PocoMail2, PocoMail3 or PocoMail2PE. Further users get a folder
// below P\users each; P\users also holds a plain file, as the client leaves one.
PocoInstall installPocoMail(const FakeMachine& m, int32_t version,
                            const std::vector<std::string>& users = {"Ann", "Bob"});

// ---- Opera ------------------------------------------------------------------
struct OperaInstall {
    std::string
        folder;  // Opera 6: the program folder with trailing backslash; 7: AppData\Opera\Opera7
};
// Opera 6: per account the settings, a signature in the account folder, filters,
// the standard mailboxes and the mail folders Inbox, Inbox\Old and "Mailing Lists"
// (with a hidden second mailbox and a file that is no mail). Opera 7: the Mail
// folder with Cache, index and storage (nested), a hidden file, the address book.
OperaInstall installOpera6(const FakeMachine& m,
                           const std::vector<std::string>& accounts = {"account1", "account2"});
OperaInstall installOpera7(const FakeMachine& m);

// ---- Netscape ---------------------------------------------------------------
struct Netscape4User {
    std::string name;
    std::string userFolder;  // UF with trailing backslash
};
// Each user: a folder below C:\Program Files\Netscape\Users with preferences,
// two address books and a mail folder tree (Inbox.sbd\Old.sbd, a hidden file, a
// name with a blank); a registry key with a subkey; a mail server whose
// "popstatePath" lies in the mail folder. nsreg.dat in the Windows folder.
std::vector<Netscape4User> installNetscape4(const FakeMachine& m,
                                            const std::vector<std::string>& users = {"ann", "bob"});
struct MozillaProfile {
    std::string name;
    std::string folder;  // the full profile folder, as registry.dat names it
};
// Profiles below AppData\Mozilla\Profiles\<name>\<random>.slt, registered in
// AppData\Mozilla\registry.dat written as the browser writes it.
std::vector<MozillaProfile> installMozilla(const FakeMachine& m,
                                           const std::vector<std::string>& profiles = {"default",
                                                                                       "work"});

// ---- Favorites --------------------------------------------------------------
// Shortcuts (returned) in the Favorites folder (one hidden), in its "Links" folder,
// in nested folders with blanks in their names and below a folder that holds
// only a sub-folder; beside them other files (desktop.ini, notes, a document) and
// a folder without shortcuts.
std::vector<std::string> installFavorites(const FakeMachine& m);

}  // namespace qb::test
