// Client codes and the selection records shared by the catalog, the jobs and the
// windows. The numbers are stored in settings and compared with backups: fixed.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qb {

using ClientKind = int32_t;

namespace kind {
constexpr ClientKind None = 0;
constexpr ClientKind OutlookExpress = 1;
constexpr ClientKind Outlook = 2;
constexpr ClientKind Eudora = 3;
constexpr ClientKind IncrediMail = 4;
constexpr ClientKind PegasusMail = 5;
constexpr ClientKind TheBat = 6;
constexpr ClientKind PocoMailFamily = 7;
constexpr ClientKind OperaFamily = 8;
constexpr ClientKind NetscapeFamily = 9;
constexpr ClientKind Favorites = 10;
constexpr ClientKind PocoMail2 = 72;
constexpr ClientKind PocoMail3 = 73;
constexpr ClientKind PocoMail2PE = 720;
constexpr ClientKind Opera6 = 86;
constexpr ClientKind Opera7 = 87;
constexpr ClientKind Netscape4 = 94;
constexpr ClientKind Mozilla = 967;  // Netscape 6/7 and Mozilla
}  // namespace kind

// One identity or backup item of a job: chosen or not, and its display name.
struct Selected {
    bool checked = false;
    std::string name;
};

// A job carries at most this many identities and items.
constexpr int kMaxSelection = 20;

// The identities or the items of a job, in list order.
struct Selection {
    std::array<Selected, kMaxSelection> entries{};
    uint8_t count = 0;

    // Appends an entry; returns false (and adds nothing) when the selection is full.
    bool add(std::string name, bool checked) {
        if (count >= kMaxSelection) return false;
        entries[count++] = Selected{checked, std::move(name)};
        return true;
    }
    const Selected& operator[](int i) const { return entries[static_cast<size_t>(i)]; }
    Selected& operator[](int i) { return entries[static_cast<size_t>(i)]; }
    // Is entry i (from 0) present and checked?
    bool isChecked(int i) const {
        return i >= 0 && i < count && entries[static_cast<size_t>(i)].checked;
    }
};

}  // namespace qb
