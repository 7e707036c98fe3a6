#include "support/msg_texts.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/files.h"
#include "platform/ini.h"
#include "support/interaction.h"

namespace qb {

namespace {

struct SharedState {
    bool opened = false;
    bool fileNameMissing = false;
};

SharedState& shared() {
    static SharedState s;
    return s;
}

bool readWholeFile(std::string_view winPath) {
    auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ifstream in(*host, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The English language file, line by line. Message9 to Message13 have no text: no
// part of the program shows them.
constexpr const char* kBuiltInLines[] = {
    "[Language]",
    "Language=English",
    "",
    "[Messages]",
    "Message1=\"Invalid command!\"",
    "Message2=\"Cannot find the handle of the selected process!\"",
    "Message3=\"Invalid directory!\"",
    "Message4=\"Select a email client!\"",
    "Message5=\"No identity selected!\"",
    "Message6=\"Incorect password!\"",
    "Message7=\"Abort\"",
    "Message8=\"Close\"",
    "Message14=\"Insert next volume! Disk number\"",
    "Message15=\"Disk is full. Replace or select other!\"",
    "Message16=\"Access denied!\"",
    "Message17=\"Drive is write protected!\"",
    "Message18=\"Backup succesfully completed.\"",
    "Message19=\"Quillbox has been succesfully backed up your email data to:\"",
    "Message20=\"There was an error: \"",
    "Message21=\"Backup aborted\"",
    "Message22=\"Quillbox was backing up your email data to:\"",
    "Message23=\"The password must be at least 5 characters long\"",
    "Message24=\"Backup in progress...\"",
    "Message25=\"Quillbox is backing up your email data to:\"",
    "Message26=\"Restore in progress...\"",
    "Message27=\"Quillbox is restoring your email data from:\"",
    "Message28=\"Backup succesfully completed.\"",
    "Message29=\"Quillbox has been succesfully backed up your email data to:\"",
    "Message30=\"There was an error: \"",
    "Message31=\"Backup aborted\"",
    "Message32=\"Quillbox was backing up your email data to:\"",
    "Message33=\"Password ...\"",
    "Message34=\"Select at least one identity!\"",
    "Message35=\"Select at least one item!\"",
    "Message36=\"Backing up: \"",
    "Message37=\"Backup successfully completed.\"",
    "Message38=\"Backup aborted.\"",
    "Message39=\"The backup failed.\"",
    "Message40=\"Your email data has been saved in the backup file below.\"",
    "Message41=\"The backup was stopped. An older backup file of the same name was left as it "
    "was.\"",
    "Message42=\"No backup file was written. An older backup file of the same name was left as "
    "it was.\"",
    "Message43=\"Restore successfully completed.\"",
    "Message44=\"Restore aborted.\"",
    "Message45=\"There was an error: \"",
    "Message46=\"Your email data has been put back in place.\"",
    "Message47=\"The restore was stopped. Some of your email data may not have been put "
    "back.\"",
    "Message48=\"Some of your email data could not be put back.\"",
    "Message49=\"The scheduler program could not be started!\"",
    "Message50=\"Thank you for using Quillbox.\"",
    "Message51=\"Would you like to tell us why you removed it?\"",
    "Restoring your email data from :=\"Restoring your email data from:\"",
    // The windows' own texts, keyed by their English text so that no number is taken
    // from the table above; the first three are followed by the file or drive they name.
    "No backup file was written:=\"No backup file was written:\"",
    "This machine has no drive:=\"This machine has no drive:\"",
    "The folder cannot be created:=\"The folder cannot be created:\"",
    "Backing up your email data to:=\"Backing up your email data to:\"",
    "Quillbox has succesful restored your email data.=\"Quillbox has succesful restored your email "
    "data.\"",
    "The data the restore replaced is kept in:=\"The data the restore replaced is kept in:\"",
    // The wizard's restore pages: the file list's headers and types, and why a
    // chosen file cannot be restored from (followed by the file).
    "Name=\"Name\"",
    "Size=\"Size\"",
    "Type=\"Type\"",
    "Modified=\"Modified\"",
    "File Folder=\"File Folder\"",
    "Backup file=\"Backup file\"",
    "The backup file cannot be found:=\"The backup file cannot be found:\"",
    "This file cannot be read as a backup:=\"This file cannot be read as a backup:\"",
    "The items were written to:=\"The items were written to:\"",
    "",
    "[Form1]",
    "TabSheet1=Backup",
    "Label1=Data to backup",
    "Label2=Identities",
    "Label3=Items",
    "Label4=Save backup file to:",
    "Button2=Create Backup!",
    "Button3=...",
    "TabSheet2=Restore",
    "Label5=Identities",
    "Label6=Items",
    "Label18=Please select the backup file",
    "GroupBox1= Restore Location ",
    "RadioButton1=Restore directly in the Email Client ",
    "RadioButton2=Restore to a custom path",
    "Button4=Browse",
    "Button5=Restore",
    "TabSheet4=Schedule",
    "Label8=Data to Backup",
    "Label9=Items",
    "Label10=Back Up data every",
    "Label11=Backup start day:",
    "Label12=Backup time:",
    "Label13=Identities",
    "Label14=Backups Folder",
    "CheckBox3=Enable Scheduled Backups",
    "Button6=Browse",
    "TabSheet3=Options",
    "Label7=Language",
    "GroupBox2= Back Up Mode ",
    "Label15=backups ( Delete older ).",
    "RadioButton3=Overwrite the last backup file",
    "RadioButton4=Back Up to a new file",
    "CheckBox4=Keep only the last",
    "Label16=Password",
    "Label17=Retype Password",
    "CheckBox5=Protect backup file with password",
    "GroupBox3= Volumes ",
    "RadioButton14=Backup to one single file",
    "RadioButton15=Split backup to volumes",
    "Button1=Save",
    "Button7=Restore to default",
    "Button8=Exit",
    "Button9=Help",
    "Button11=About",
    "",
    "[Form2]",
    "Button1=Abort",
    "Button2=Go to Folder",
    "",
    "[Form3]",
    "Button1=Abort",
    "",
    "[Form4]",
    "Button1=OK",
    "",
    "[Form5]",
    "Label1=To backup you must close these programs:",
    "Button1=OK",
    "Button2=Wait 5 minutes",
    "Button3=Close all",
    "Button4=Cancel",
    "",
    "[passwordform1]",
    "Label1=Backup password:",
    "Button1=OK",
};

// The value of `key` in section "Messages" of the built-in English file (keys
// without regard to case); nothing when it has none.
std::optional<std::string> builtInMessage(std::string_view key) {
    bool inMessages = false;
    for (std::string_view line : kBuiltInLines) {
        if (!line.empty() && line.front() == '[') {
            inMessages = line == "[Messages]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!inMessages || eq != key.size()) continue;
        bool same = true;
        for (size_t i = 0; i < eq && same; ++i)
            same = std::tolower(static_cast<unsigned char>(line[i])) ==
                   std::tolower(static_cast<unsigned char>(key[i]));
        if (!same) continue;
        std::string_view value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

std::string buildBuiltInText() {
    std::string text;
    for (const char* line : kBuiltInLines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace

void TMsgINISupp::SetLngINISupp(const LanguageFileSource* source) {
    lngINISupp_ = source;
    if (source) fileName_ = source->languageFileName();
}

void TMsgINISupp::OpenFile() {
    SharedState& s = shared();
    if (fileName_.empty() && lngINISupp_) fileName_ = lngINISupp_->languageFileName();
    if (fileName_.empty()) {
        interaction().messageBox("ERROR!!!\r\nFile not preset!", MsgIcon::None, MsgButtons::Ok);
        s.fileNameMissing = true;
        throw OperationAbandoned();
    }
    s.fileNameMissing = false;
    if (!readWholeFile(fileName_)) {
        interaction().messageBox("WARNING!!!\r\n Language File Not Found! Its now creating a new!",
                                 MsgIcon::None, MsgButtons::Ok);
    }
    s.opened = true;
}

void TMsgINISupp::CloseFile() {
    fileName_.clear();
    shared().opened = false;
}

std::string TMsgINISupp::GetMessageText(std::string_view key) {
    if (!shared().opened) OpenFile();
    // Another instance may have opened the texts while this one had no name yet.
    if (fileName_.empty() && lngINISupp_) fileName_ = lngINISupp_->languageFileName();
    if (fileName_.empty()) return "ERROR";
    // A file written by an earlier version, or a translation, may lack a key a newer
    // program shows: the program's own English text then, not "ERROR".
    constexpr std::string_view kMissing = "\x01missing";
    std::string value = platform::IniFile(fileName_).readString("Messages", key, kMissing);
    if (value == kMissing) {
        const auto builtIn = platform::fileExists(fileName_) ? builtInMessage(key) : std::nullopt;
        value = builtIn ? *builtIn : "ERROR";
    }
    return ExpandMessageLines(value);
}

bool TMsgINISupp::Opened() {
    return shared().opened;
}

bool TMsgINISupp::FileNameMissing() {
    return shared().fileNameMissing;
}

std::string ExpandMessageLines(std::string_view value) {
    if (value.find('"') == std::string_view::npos) return std::string(value);
    std::string result;
    while (!value.empty()) {
        const size_t quote = value.find('"');
        if (quote == std::string_view::npos) {
            // Text after the last marker is kept as a last line without a line break.
            result.append(value);
            break;
        }
        result.append(value.substr(0, quote));
        result += "\r\n";
        const size_t drop = quote + 1 + 7;
        value.remove_prefix(drop < value.size() ? drop : value.size());
    }
    return result;
}

std::string_view BuiltInEnglishLanguageFile() {
    static const std::string text = buildBuiltInText();
    return text;
}

bool WriteBuiltInLanguageFile(std::string_view winPath) {
    auto host = platform::hostPath(winPath);
    if (!host) return false;
    // Written beside and renamed into place, so that a failed write leaves no half file.
    std::filesystem::path part = *host;
    part += ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        const std::string_view text = BuiltInEnglishLanguageFile();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(part, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(part, *host, ec);
    if (!ec) return true;
    std::filesystem::remove(part, ec);
    return false;
}

}  // namespace qb
