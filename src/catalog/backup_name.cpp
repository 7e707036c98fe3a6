#include "catalog/backup_name.h"

#include <array>
#include <ctime>

#include "catalog/detection.h"
#include "catalog/kinds.h"
#include "catalog/reads.h"

namespace qb {

namespace {

constexpr std::array<const char*, 12> kMonths{"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
constexpr std::array<const char*, 7> kDays{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                           "Thursday", "Friday", "Saturday"};

// Windows keeps date pictures to 80 characters; a longer one is damage.
constexpr size_t kMaxPicture = 80;

std::string twoDigits(unsigned v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

// "d"/"M": the number; "dd"/"MM": two digits; "ddd"/"MMM": the name's first
// three letters; longer runs: the whole name.
void appendDayOrMonth(std::string& out, size_t run, unsigned number, std::string_view name) {
    if (run == 1)
        out += std::to_string(number);
    else if (run == 2)
        out += twoDigits(number);
    else
        out += run == 3 ? name.substr(0, 3) : name;
}

bool hasDigit(std::string_view s) {
    for (char c : s)
        if (c >= '0' && c <= '9') return true;
    return false;
}

std::chrono::year_month_day today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

}  // namespace

std::string UserShortDateFormat() {
    return catalog::readText(platform::RootKey::CurrentUser, "\\Control Panel\\International",
                             "sShortDate");
}

std::string FormatDate(std::string_view picture, std::chrono::year_month_day date) {
    const int year = static_cast<int>(date.year());
    const unsigned month = static_cast<unsigned>(date.month());
    const unsigned day = static_cast<unsigned>(date.day());
    const unsigned weekday = std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding();
    std::string out;
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        if (c == '\'') {
            // Quoted text; two quotes in a row stand for one quote.
            size_t j = i + 1;
            if (j < picture.size() && picture[j] == '\'') {
                out += '\'';
                i = j + 1;
                continue;
            }
            while (j < picture.size()) {
                if (picture[j] == '\'') {
                    if (j + 1 < picture.size() && picture[j + 1] == '\'') {
                        out += '\'';
                        j += 2;
                        continue;
                    }
                    break;
                }
                out += picture[j++];
            }
            i = j + 1;
            continue;
        }
        switch (c) {
            case 'd':
                appendDayOrMonth(out, run, day, kDays[weekday]);
                break;
            case 'M':
                appendDayOrMonth(out, run, month, kMonths[month - 1]);
                break;
            case 'y':
                if (run == 1)
                    out += std::to_string(year % 100);
                else if (run == 2)
                    out += twoDigits(static_cast<unsigned>(year % 100));
                else
                    out += std::to_string(year);
                break;
            case 'g':
                out += "A.D.";
                break;
            default:
                out.append(run, c);
                break;
        }
        i += run;
    }
    return out;
}

std::string DefaultBackupFileName(ClientKind kind, std::chrono::year_month_day date) {
    const std::string_view prefix = fileNamePrefix(kind);
    if (prefix.empty()) return {};
    std::string picture = UserShortDateFormat();
    if (picture.empty() || picture.size() > kMaxPicture) picture = kDefaultShortDate;
    std::string text = FormatDate(picture, date);
    if (!hasDigit(text)) text = FormatDate(kDefaultShortDate, date);
    for (char& c : text)
        if (c < '0' || c > '9') c = '-';
    return std::string(prefix) + text + ".ebk";
}

std::string DefaultBackupFileName(ClientKind kind) {
    return DefaultBackupFileName(kind, today());
}

std::string FileNameVersionLabel(ClientKind kind) {
    const KindInfo* k = findKind(kind);
    if (!k) return {};
    std::string label(k->versionLabel);
    for (char& c : label)
        if (c == '/' || c == '\\') c = '-';
    return label;
}

std::string BackupFileName(ClientKind kind, bool withVersion) {
    return BackupFileName(kind, withVersion, today());
}

std::string BackupFileName(ClientKind kind, bool withVersion, std::chrono::year_month_day date) {
    std::string name = DefaultBackupFileName(kind, date);
    const std::string label = FileNameVersionLabel(kind);
    if (!withVersion || label.empty() || name.empty()) return name;
    name.insert(fileNamePrefix(kind).size(), label + " ");
    return name;
}

std::string BackupFileNameFor(ClientKind kind) {
    const bool several = isVersionCode(kind) && InstalledVersions(familyOf(kind)).size() > 1;
    return BackupFileName(kind, several);
}

}  // namespace qb
