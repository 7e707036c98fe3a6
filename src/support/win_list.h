// The desktop's top-level windows with the process each belongs to, read from the
// X display (the window manager's client list). Without a display the list is
// empty; that is not an error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qb {

// Which windows are listed by visibility. A window counts as visible while it is
// mapped or iconified (a minimised window is still a visible one).
enum TFind_ID { id_All, id_VisOnly, id_InvisOnly };

// One listed window.
struct TWinInfo {
    uint64_t OwnerWnd = 0;   // the window it is transient for; 0 for none
    uint64_t WinHandle = 0;  // the X window id
    // The owner's title: "Desktop" without an owner, "NoName" when its title is empty.
    std::string OwnerName;
    std::string ClassName;  // the class part of WM_CLASS
    // The listed name of the window's process (its Windows executable under Wine);
    // empty when the process is unknown or runs on another host.
    std::string ExeFile;
    uint32_t ProcessID = 0;  // from _NET_WM_PID; 0 when not told
    bool Visible = false;
};

class TWinList {
  public:
    struct Line {
        std::string title;
        TWinInfo info;
    };

    TWinList() = default;
    virtual ~TWinList() = default;
    TWinList(const TWinList&) = delete;
    TWinList& operator=(const TWinList&) = delete;

    TFind_ID WhatDoFind = id_VisOnly;
    // Whether windows with an empty title are listed.
    bool EmptyNames = false;
    // List only the windows a task bar shows: no transient (owned) windows, none
    // that ask to be kept off the task bar, no docks, menus, tool windows and the like.
    bool TaskBarSty = true;
    // Raised by TimerTick when the list changed.
    std::function<void(TWinList&)> OnChanged;

    // Rebuilds WindowList when the windows (ids, titles, processes) have changed;
    // returns whether it changed.
    virtual bool Refresh();

    const std::vector<Line>& WindowList() const { return windowList_; }
    // Process identifier / executable of the line at `index`; 0 / "" outside the list.
    uint32_t ProcessId(int index) const;
    std::string ExeFile(int index) const;
    // Whether the last Refresh reached a display.
    bool DisplayAvailable() const { return displayAvailable_; }

    // The automatic refresh. There is no timer of its own: a host with an event
    // loop calls TimerTick every TimerIntval milliseconds while TimerActive is true.
    int TimerIntval() const { return timerIntval_; }
    void SetTimerIntval(int ms);  // 0 or less also turns EnableTimer off
    bool EnableTimer() const { return enableTimer_; }
    void SetEnableTimer(bool on);
    bool TimerActive() const { return timerActive_; }
    void TimerTick();

  private:
    struct Seen {
        uint64_t handle;
        std::string title;
        uint32_t pid;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Line> windowList_;
    std::vector<Seen> lastSeen_;  // the windows the list was last built from
    bool displayAvailable_ = false;
    int timerIntval_ = 500;
    bool enableTimer_ = false;
    bool timerActive_ = false;
};

// The program's shared window list: every top-level window, visible or hidden, that
// has a title (WhatDoFind id_All, TaskBarSty false).
TWinList& WinList1();

}  // namespace qb
