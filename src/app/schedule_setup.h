// What the Schedule tab stores and switches, without its widgets: the schedule
// entries of the clients, the identities and items each one takes, the start
// moved back by one interval, and the registration, start and end of the
// scheduler program of this machine.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "catalog/client_kind.h"

namespace qb::app {

// The logon registration of the scheduler, under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kRunValue = "QuillSched";

// "LastBackupDate" for a start day `date` at the time of day `time`: moved back
// by `interval` units of `period` (hours; days; weeks; calendar months, keeping
// the day or taking the last day of a shorter month). An unknown period leaves
// the start as it is; an interval below 1 counts as 1.
double LastBackupDateFor(double date, double time, int32_t interval, int32_t period);

// Every entry's "Selected", in the order of `codes`, each created as false when
// it is missing.
std::vector<bool> PrepareScheduleEntries(const std::vector<ClientKind>& codes);
// Writes "Selected" of every entry.
void WriteScheduleSelected(const std::vector<std::pair<ClientKind, bool>>& entries);

// The two check lists of one client: names in list order with their check marks.
struct ScheduleChoices {
    std::vector<std::pair<std::string, bool>> identities;
    std::vector<std::pair<std::string, bool>> items;
    bool itemsSelectable = false;  // false: every item is taken, the list is disabled
};
// The client's identities and items, checked as its schedule entry says: an
// identity by every stored name equal to it ignoring case, an item by the name
// exactly equal; all items when they cannot be chosen one by one.
ScheduleChoices LoadScheduleChoices(ClientKind kind);
// Replaces the entry's stored identities and items by the check lists' marks.
void SaveScheduleChoices(ClientKind kind, const ScheduleChoices& choices);

// The schedule values of the settings ("AutoBackup", "AutoBackupDir",
// "BackupTime", "BackupDate", "BackupPeriod", "BackupInterval") and
// "LastBackupDate", as the running scheduler reads them.
void SaveScheduleTiming(const Settings& s, double lastBackupDate);

// The scheduler program (a Windows path in the program's folder).
std::string SchedulerProgramPath();
// The desktop's autostart entry that starts the scheduler at logon:
// $XDG_CONFIG_HOME/autostart/quillsched.desktop (~/.config when unset).
std::filesystem::path AutostartEntryPath();
// The text of that entry for the scheduler `program` (a host path) of the
// machine in `prefix`.
std::string AutostartEntryText(const std::filesystem::path& program,
                               const std::filesystem::path& prefix);

// Switches scheduled backups on or off: "AutoBackup" in memory and in the
// registry (the scheduler ends by itself when it reads it switched off), the
// Run value and the autostart entry, and the scheduler of this machine started
// when it does not run, or ended. Tells "Message49" when the scheduler cannot be
// started and "Message2" when it cannot be ended; false then.
bool SetSchedulerEnabled(bool enabled);

// Starts `program` with `args` as a process of its own (not a child to be
// waited for), with the environment variables `env` ("NAME=value") added to
// this process's. A program without a "/" is searched on PATH. False when it
// cannot be started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {});

}  // namespace qb::app
