#include "testkit/demo_fixture.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <stdexcept>

#include "catalog/client_kind.h"

namespace qb::test {

namespace {

constexpr std::array<std::string_view, 12> kPeople{
    "Alice Moreau", "Bruno Keller", "Chloe Novak",  "Dmitri Ivanov", "Elena Rossi", "Farid Haddad",
    "Greta Lind",   "Hugo Martin",  "Ines Almeida", "Jonas Berg",    "Kira Sato",   "Leo Fischer"};
constexpr std::array<std::string_view, 12> kTopics{
    "quarterly report", "team lunch",       "server upgrade",  "holiday photos",
    "invoice 2041",     "project timeline", "book club",       "flight details",
    "contract draft",   "garden party",     "meeting minutes", "new office keys"};
constexpr std::array<std::string_view, 8> kLines{
    "Thanks for the quick reply, see my notes below.",
    "Could you have a look before Friday?",
    "I attached the numbers we talked about on the phone.",
    "Let me know if the new time works for everyone.",
    "The first draft is ready; comments are welcome.",
    "We will meet in the small room on the second floor.",
    "Please forward this to the rest of the group.",
    "Kind regards, and have a good weekend."};
constexpr std::array<std::string_view, 7> kDays{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A small deterministic generator, seeded from the folder and owner names.
uint32_t seedOf(std::string_view a, std::string_view b) {
    uint32_t h = 2166136261u;
    for (std::string_view s : {a, b})
        for (char c : s)
            h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    return h;
}

uint32_t next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

std::string address(std::string_view person) {
    std::string a;
    for (char c : person)
        a += c == ' ' ? '.' : static_cast<char>(std::tolower(c));
    return a + "@example.com";
}

std::string two(unsigned v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

}  // namespace

std::string generatedMailbox(std::string_view folder, std::string_view owner, int count) {
    uint32_t state = seedOf(folder, owner);
    std::string out;
    for (int i = 0; i < count; ++i) {
        const std::string_view from = kPeople[next(state) % kPeople.size()];
        const std::string_view topic = kTopics[next(state) % kTopics.size()];
        const std::string_view day = kDays[next(state) % kDays.size()];
        const std::string_view month = kMonths[next(state) % kMonths.size()];
        const unsigned date = 1 + next(state) % 28, hour = next(state) % 24,
                       minute = next(state) % 60;
        const std::string year = std::to_string(2001 + next(state) % 5);
        const std::string stamp = std::string(day) + " " + std::string(month) + " " + two(date) +
                                  " " + two(hour) + ":" + two(minute) + ":00 " + year;
        out += "From " + address(from) + " " + stamp + "\r\n";
        out += "From: " + std::string(from) + " <" + address(from) + ">\r\n";
        out += "To: " + std::string(owner) + " <" + address(owner) + ">\r\n";
        out += "Subject: " + std::string(i % 3 == 0 ? "Re: " : "") + std::string(topic) + " (" +
               std::string(folder) + " #" + std::to_string(i + 1) + ")\r\n";
        out += "Date: " + std::string(day) + ", " + two(date) + " " + std::string(month) + " " +
               year + " " + two(hour) + ":" + two(minute) + ":00 +0100\r\n";
        out += "Message-ID: <" + std::to_string(next(state)) + "." + std::to_string(i) +
               "@mail.example.com>\r\n\r\n";
        out += "Hello " + std::string(owner) + ",\r\n\r\n";
        const unsigned lines = 2 + next(state) % 4;
        for (unsigned l = 0; l < lines; ++l)
            out += std::string(kLines[next(state) % kLines.size()]) + "\r\n";
        out += "\r\n-- \r\n" + std::string(from) + "\r\n\r\n";
    }
    return out;
}

std::string generatedStore(std::string_view folder, std::string_view owner, int count) {
    std::string out("QBSTORE");
    out += '\0';
    out += "\x01\x00\xfe\xff";
    out += std::string(folder) + '\0' + std::to_string(count) + '\0';
    out += generatedMailbox(folder, owner, count);
    return out;
}

void fillMailFiles(const FakeMachine& m, const std::vector<std::string>& files,
                   std::string_view owner, int count, MailForm form) {
    for (const std::string& f : files) {
        const auto slash = f.find_last_of('\\');
        const std::string_view name = slash == std::string::npos
                                          ? std::string_view(f)
                                          : std::string_view(f).substr(slash + 1);
        // The folder's own name and its place make every file's messages differ.
        const std::string tag = std::string(name) + " " + std::to_string(f.size());
        m.writeFile(f, form == MailForm::Text ? generatedMailbox(tag, owner, count)
                                              : generatedStore(tag, owner, count));
    }
}

// ---- installed, but empty ----------------------------------------------------------

void installEmptyOutlookExpress(const FakeMachine& m, const std::string& stationeryFolder) {
    registerMailClient("Outlook Express");
    setString(RootKey::LocalMachine, "\\Software\\Clients\\Mail\\Outlook Express", "DLLPath",
              "C:\\Program Files\\Outlook Express\\msoe.dll");
    setDword(RootKey::CurrentUser, "\\Identities", "Identity Ordinal", 0);
    setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
              "Stationery Folder", stationeryFolder + "\\");
    m.writeFile("C:\\Program Files\\Outlook Express\\msoe.dll", "program");
}

void installEmptyOutlook(const FakeMachine& m, const std::string& officeVersion) {
    registerMailClient("Microsoft Outlook");
    setString(RootKey::CurrentUser,
              "\\Software\\Microsoft\\Office\\" + officeVersion + "\\Common\\General", "Signatures",
              "Signatures");
    m.writeFile("C:\\Program Files\\Microsoft Office\\OFFICE11\\OUTLOOK.EXE", "program");
}

void installEmptyEudora(const FakeMachine& m, const std::string& folder) {
    registerMailClient("Eudora");
    const std::string commandLine =
        folder + "\\Eudora.exe " + folder + " " + folder + "\\eudora.ini";
    setString(RootKey::ClassesRoot, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine\\Current", "",
              commandLine);
    setString(RootKey::CurrentUser, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine", "Current",
              commandLine);
    m.writeFile(folder + "\\Eudora.exe", "program");
}

void installEmptyIncrediMail(const FakeMachine& m, const std::string& contentFolder) {
    registerMailClient("IncrediMail");
    setString(RootKey::LocalMachine, "\\SOFTWARE\\IncrediMail", "CommonDataPath", contentFolder);
    setString(RootKey::LocalMachine, "\\SOFTWARE\\IncrediMail", "ApplicationPath",
              "C:\\Program Files\\IncrediMail");
    setString(RootKey::CurrentUser, "\\SOFTWARE\\IncrediMail", "ApplicationPath",
              localAppDataFolder(m) + "\\IM");
    createKey(RootKey::CurrentUser, "\\SOFTWARE\\IncrediMail\\Identities");
    m.writeFile("C:\\Program Files\\IncrediMail\\IncMail.exe", "program");
}

void installEmptyPegasus(const FakeMachine& m, const std::string& baseFolder) {
    registerMailClient("Pegasus Mail");
    const std::string key = "\\SOFTWARE\\Classes\\software\\pegasus mail";
    setString(RootKey::LocalMachine, key + "\\MailBox", "", baseFolder + "\\MAIL");
    setString(RootKey::LocalMachine, key + "\\Username", "", "multi-user mode");
    setString(RootKey::LocalMachine, key + "\\shell\\open\\command", "",
              baseFolder + "\\PROGRAMS\\WINPM-32.EXE");
    m.writeFile(baseFolder + "\\PROGRAMS\\WINPM-32.EXE", "program");
}

void installEmptyTheBat(const FakeMachine& m, const std::string& workingFolder) {
    registerMailClient("The Bat!");
    setString(RootKey::CurrentUser, "\\Software\\RIT\\The Bat!", "Working Directory",
              workingFolder + "\\");
    setDword(RootKey::CurrentUser, "\\Software\\RIT\\The Bat!\\Users Depot", "Count", 0);
    m.writeFile(workingFolder + "\\TheBat.exe", "program");
}

void installEmptyPocoMail(const FakeMachine& m, int32_t version, const std::string& folder) {
    registerMailClient("PocoMail");
    switch (version) {
        case kind::PocoMail2:
            setString(RootKey::CurrentUser, "\\Software\\Poco\\Mail", "Path", folder);
            break;
        case kind::PocoMail3:
            setString(RootKey::CurrentUser, "\\Software\\Poco Systems Inc\\PocoMail 3", "Path",
                      folder);
            break;
        case kind::PocoMail2PE:
            setString(RootKey::LocalMachine,
                      "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                      "pocomail2moe_is1",
                      "Inno Setup: App Path", folder);
            break;
        default:
            throw std::runtime_error("fixture: not a PocoMail version");
    }
    m.writeFile(folder + "\\PocoMail.exe", "program");
}

void installEmptyOpera(const FakeMachine& m, const std::string& programFolder) {
    registerMailClient("Opera");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine",
              programFolder + "\\Opera.exe");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last Directory", programFolder);
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine v2",
              "C:\\Program Files\\Opera7\\Opera.exe");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last Directory v2",
              "C:\\Program Files\\Opera7");
    m.writeFile(programFolder + "\\Opera.exe", "program");
    m.writeFile("C:\\Program Files\\Opera7\\Opera.exe", "program");
}

void installEmptyNetscape(const FakeMachine& m) {
    registerMailClient("Netscape Messenger");
    setString(RootKey::CurrentUser, "\\Software\\Netscape\\Netscape Navigator\\Main",
              "Install Directory", "C:\\Program Files\\Netscape\\Communicator\\Program");
    registerMailClient("Netscape 7.1");
    MozillaRegistryWriter reg;
    const int32_t tree = reg.addKey(reg.common(), "Profiles");
    reg.setString(tree, "Version", "5.0");
    const auto& bytes = reg.bytes();
    m.writeFile(appDataFolder(m) + "\\Mozilla\\registry.dat",
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace qb::test
