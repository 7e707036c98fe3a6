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
    // "Store Root" as stored; "" for the client's own default below %UserProfile%.
    std::string storeRoot = {};
};
// Per identity the registry settings, one account, a signature, a rule, a blocked
// sender and a mail store (the .dbx files, a hidden file and a sub-folder); the
// address book folder (the .wab file and its backup copy) and the stationery
// folder (pages, an image, a nested pack).
struct OEInstall {
    std::vector<std::string> storeFolders;  // per identity, expanded, no trailing backslash
    std::string wabFile;
    std::string stationeryFolder;  // no trailing backslash (the value has one)
};
OEInstall installOutlookExpress(const FakeMachine& m,
                                const std::vector<OEIdentity>& identities = {
                                    {"Main Identity", "{3F1B2E8A-6C1D-4E7B-9A52-0D4C8E7F1A21}"},
                                    {"Ann", "{B7A4C0D2-1E3F-4A5B-8C6D-7E8F9A0B1C2D}"}});

// ---- Outlook ----------------------------------------------------------------
// How a profile service keeps its store path ("001e6700"): as text, or as binary
// data holding ANSI or UTF-16LE text with its NUL, as Outlook does on many machines.
enum class StorePathForm { Text, AnsiBinary, Utf16Binary };
struct OutlookOptions {
    std::string profile = "Outlook";
    // Profiles below the Windows NT key, else below the Windows 9x one.
    bool windowsNt = true;
    StorePathForm storePaths = StorePathForm::Text;
    // Signatures folder name (below AppData\Microsoft) and the Office version key
    // ("10.0", "11.0", ...) that names it.
    std::string signatures = "Signatures";
    std::string officeVersion = "11.0";
    // Only the profile with the store in the local Outlook folder: no stores
    // elsewhere, no further Outlook files.
    bool minimal = false;
};
struct OutlookInstall {
    std::string profile;  // mail profile name
    // Every store file the profile names; the last one lies outside the user's folders.
    std::vector<std::string> pstFiles;
    std::string signaturesFolder;
    std::string outlookFolder;       // AppData\Microsoft\Outlook
    std::string localOutlookFolder;  // Local AppData\Microsoft\Outlook
    std::string profileKey;          // the profile's key below HKEY_CURRENT_USER
    // Store files kept outside the user's folders, in the order of the services.
    std::vector<std::string> outsideStores;
    // A store in the local application data folder, outside its Outlook folder.
    std::string otherLocalStore;
};
// The profile's services (in registry order): one without a store, the main store
// in the local Outlook folder, stores in two folders outside the user's folders
// (two in the first), one elsewhere in the local application data folder, and one
// whose file is gone. The Outlook folders hold nested, hidden and blank-named files.
OutlookInstall installOutlook(const FakeMachine& m, const OutlookOptions& options = {});

// ---- Eudora -----------------------------------------------------------------
struct EudoraInstall {
    std::string folder;       // the data folder
    std::string commandLine;  // as registered
};
// The data folder holds the settings, mailboxes, a mail folder tree Work.fol
// with a nested Old.fol, Personal.fol (two ".pce" files, a hidden mailbox index),
// Spool, Filters, Sigs, Stationery, attachments and the address book.
// `quoted`: the command line quotes program, folder and settings file, and the
// program lies in a folder with blanks.
EudoraInstall installEudora(const FakeMachine& m, std::string folder = "C:\\Eudora",
                            bool quoted = false);

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
// perUser: identities under the current user and the content in a common data
// folder (`contentFolder`, default C:\Program Files\IncrediMail\Data), as current
// versions keep them; else identities under the machine only and the content in
// the application folder. Each identity has accounts and rules in the registry,
// a message store with nested folders, a hidden file and attachments, an address
// book with a sub-folder and a rule order file.
IMInstall installIncrediMail(const FakeMachine& m, bool perUser,
                             const std::vector<IMIdentity>& identities =
                                 {{"{1A2B3C4D-0000-4000-8000-000000000001}", "Ann", std::nullopt},
                                  {"{1A2B3C4D-0000-4000-8000-000000000002}", "Bob", 1}},
                             const std::string& contentFolder = {});

// ---- Pegasus Mail -----------------------------------------------------------
struct PegasusInstall {
    std::string baseFolder;   // C:\PMAIL unless given
    std::string mailboxPath;  // the "MailBox" value: base\MAIL
};
// Without users: single-user mode, the mail in base\MAIL. With users (pmail.usr
// lines "Y NAME;Personal name"): multi-user mode, one folder per user. Every mail
// folder holds folders, an address book, a hidden file and a nested sub-folder.
PegasusInstall installPegasus(const FakeMachine& m, const std::vector<std::string>& users = {},
                              const std::string& baseFolder = "C:\\PMAIL");

// ---- The Bat! ---------------------------------------------------------------
struct BatUser {
    std::string name;
    std::string dir;  // "Dir #n"; "" for the default place below the working folder
};
struct BatInstall {
    std::string workingFolder;  // without trailing backslash
    std::vector<std::string> userFolders;
};
// Every user folder holds the nine account files and the message bases of Inbox,
// Outbox, "Sent Mail", Trash, Inbox\Lists, Inbox\Lists\Old Threads and a hidden
// ".Archive" folder, beside a hidden lock file; the working folder holds two
// address books (one hidden), Groups.cfg and Addrbook.ini.
BatInstall installTheBat(const FakeMachine& m,
                         const std::vector<BatUser>& users = {{"Ann", ""},
                                                              {"Bob", "C:\\BatMail\\Bob"}},
                         const std::string& workingFolder = "C:\\Program Files\\The Bat!");
// The message base folders each user folder holds, relative, in the order a search
// finds them (a folder before its subfolders, then by name).
std::vector<std::string> batMailFolders();

// ---- PocoMail ---------------------------------------------------------------
struct PocoInstall {
    std::string folder;  // P
};
// version: kind::PocoMail2, PocoMail3 or PocoMail2PE. Further users get a folder
// below P\users each; P\users also holds a plain file, as the client leaves one.
// Every user has the seven folders of its poco.ini with files (the address book
// with a nested folder, the mail folder with a hidden file); the main user's mail
// folder also has the sub-folders Work (two mailboxes and an index) and
// Work\2005. `folder` replaces the version's usual PocoMail folder.
PocoInstall installPocoMail(const FakeMachine& m, int32_t version,
                            const std::vector<std::string>& users = {"Ann", "Bob"},
                            const std::string& folder = "");
// The "poco.ini" the installer writes, naming `usersFolder` (no trailing backslash).
std::string pocoIniText(const std::string& usersFolder);

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
