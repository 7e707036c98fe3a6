#include "support/win_list.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <unordered_map>

#include "platform/text_codec.h"
#include "support/interaction.h"
#include "support/proc_list.h"

// Xlib comes last: its macros (None, Status, Bool, ...) must not reach our headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qb {

namespace {

// A window can vanish between being listed and being asked about; Xlib's default
// handler would end the program on the resulting BadWindow.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

class XSession {
  public:
    XSession() : display_(XOpenDisplay(nullptr)) {
        if (display_) previousHandler_ = XSetErrorHandler(ignoreXError);
    }
    ~XSession() {
        if (!display_) return;
        XSync(display_, False);  // let pending errors reach our handler
        XSetErrorHandler(previousHandler_);
        XCloseDisplay(display_);
    }
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;
    Display* display() const { return display_; }

  private:
    Display* display_;
    int (*previousHandler_)(Display*, XErrorEvent*) = nullptr;
};

enum AtomIndex {
    aClientList,
    aWmName,
    aUtf8String,
    aWmPid,
    aWmState,
    aNetWmState,
    aSkipTaskbar,
    aWindowType,
    aTypeNormal,
    aTypeDialog,
    aAtomCount
};

constexpr std::array<const char*, aAtomCount> kAtomNames = {
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_PID",
    "WM_STATE",
    "_NET_WM_STATE",
    "_NET_WM_STATE_SKIP_TASKBAR",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
};

struct Property {
    Atom type = 0;
    int format = 0;
    std::vector<unsigned char> bytes;  // format 8
    std::vector<unsigned long> items;  // format 32 (Xlib hands them out as longs)
};

std::optional<Property> getProperty(Display* d, Window w, Atom name, Atom type) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, name, 0, LONG_MAX / 4, False, type, &actualType, &actualFormat,
                           &count, &after, &data) != Success)
        return {};
    if (!data) return {};
    if (actualType == 0) {
        XFree(data);
        return {};
    }
    Property p;
    p.type = actualType;
    p.format = actualFormat;
    if (actualFormat == 8) {
        p.bytes.assign(data, data + count);
    } else if (actualFormat == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        p.items.assign(longs, longs + count);
    }
    XFree(data);
    return p;
}

std::string stripNul(std::string s) {
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

class WindowReader {
  public:
    explicit WindowReader(Display* d) : d_(d) {
        std::array<char*, aAtomCount> names{};
        for (size_t i = 0; i < kAtomNames.size(); ++i)
            names[i] = const_cast<char*>(kAtomNames[i]);
        XInternAtoms(d_, names.data(), aAtomCount, False, atoms_.data());
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0) hostName_ = host;
    }

    // The top-level windows of every screen, in the order the window manager (or,
    // without one, the server) lists them.
    std::vector<Window> topLevelWindows() const {
        std::vector<Window> out;
        for (int s = 0; s < ScreenCount(d_); ++s) {
            const Window root = RootWindow(d_, s);
            if (auto list = getProperty(d_, root, atoms_[aClientList], XA_WINDOW);
                list && list->format == 32) {
                for (unsigned long w : list->items)
                    out.push_back(static_cast<Window>(w));
                continue;
            }
            Window rootReturn = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(d_, root, &rootReturn, &parent, &children, &count) && children) {
                out.insert(out.end(), children, children + count);
                XFree(children);
            }
        }
        return out;
    }

    std::string title(Window w) const {
        if (auto p = getProperty(d_, w, atoms_[aWmName], atoms_[aUtf8String]); p && p->format == 8)
            return stripNul(std::string(p->bytes.begin(), p->bytes.end()));
        XTextProperty text{};
        if (!XGetWMName(d_, w, &text) || !text.value) return {};
        std::string out;
        if (text.encoding == XA_STRING && text.format == 8) {
            out = platform::latin1ToUtf8({reinterpret_cast<const char*>(text.value), text.nitems});
        } else if (text.encoding == atoms_[aUtf8String] && text.format == 8) {
            out.assign(reinterpret_cast<const char*>(text.value), text.nitems);
        } else {
            char** list = nullptr;
            int count = 0;
            if (Xutf8TextPropertyToTextList(d_, &text, &list, &count) >= Success && list) {
                if (count > 0 && list[0]) out = list[0];
                XFreeStringList(list);
            }
        }
        XFree(text.value);
        return stripNul(std::move(out));
    }

    bool visible(Window w) const {
        XWindowAttributes attrs{};
        if (XGetWindowAttributes(d_, w, &attrs) && attrs.map_state == IsViewable) return true;
        // An iconified window is unmapped but still shown (on the task bar).
        if (auto p = getProperty(d_, w, atoms_[aWmState], atoms_[aWmState]);
            p && p->format == 32 && !p->items.empty())
            return p->items[0] == IconicState || p->items[0] == NormalState;
        return false;
    }

    Window owner(Window w) const {
        Window owner = 0;
        if (!XGetTransientForHint(d_, w, &owner)) return 0;
        for (int s = 0; s < ScreenCount(d_); ++s)
            if (owner == RootWindow(d_, s)) return 0;  // a group dialog: no owner
        return owner;
    }

    bool taskBarStyle(Window w) const {
        if (auto state = getProperty(d_, w, atoms_[aNetWmState], XA_ATOM)) {
            for (unsigned long a : state->items)
                if (a == atoms_[aSkipTaskbar]) return false;
        }
        if (auto type = getProperty(d_, w, atoms_[aWindowType], XA_ATOM);
            type && !type->items.empty()) {
            const unsigned long first = type->items[0];
            return first == atoms_[aTypeNormal] || first == atoms_[aTypeDialog];
        }
        return true;
    }

    std::string className(Window w) const {
        XClassHint hint{};
        if (!XGetClassHint(d_, w, &hint)) return {};
        std::string out = hint.res_class ? hint.res_class : "";
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        return out;
    }

    // _NET_WM_PID, unless the window says it belongs to another host.
    uint32_t processId(Window w) const {
        auto pid = getProperty(d_, w, atoms_[aWmPid], XA_CARDINAL);
        if (!pid || pid->format != 32 || pid->items.empty()) return 0;
        if (auto machine = getProperty(d_, w, XA_WM_CLIENT_MACHINE, AnyPropertyType);
            machine && machine->format == 8 && !hostName_.empty()) {
            const std::string client =
                stripNul(std::string(machine->bytes.begin(), machine->bytes.end()));
            if (!client.empty() && client != hostName_) return 0;
        }
        return static_cast<uint32_t>(pid->items[0]);
    }

  private:
    Display* d_;
    std::array<Atom, aAtomCount> atoms_{};
    std::string hostName_;
};

}  // namespace

bool TWinList::Refresh() {
    timerActive_ = false;
    XSession session;
    Display* d = session.display();
    displayAvailable_ = d != nullptr;

    std::vector<Seen> seen;
    if (d) {
        WindowReader reader(d);
        for (Window w : reader.topLevelWindows()) {
            std::string title = reader.title(w);
            if (title.empty() && !EmptyNames) continue;
            const bool visible = reader.visible(w);
            if ((WhatDoFind == id_VisOnly && !visible) || (WhatDoFind == id_InvisOnly && visible))
                continue;
            if (TaskBarSty && (reader.owner(w) != 0 || !reader.taskBarStyle(w))) continue;
            seen.push_back(Seen{static_cast<uint64_t>(w), std::move(title), reader.processId(w)});
        }
    }

    // The list stands while the same windows are there. Window ids alone (or their
    // sum) could let a list outlive its windows: ids are reused, and another display
    // hands out the same ones; the titles and processes settle it.
    if (seen == lastSeen_) {
        if (enableTimer_) timerActive_ = true;
        return false;
    }
    windowList_.clear();
    if (d) {
        WindowReader reader(d);
        std::unordered_map<uint32_t, std::string> exeByPid;
        for (TProcessInfo& p : processSnapshot())
            exeByPid.emplace(p.ProcessID, std::move(p.ExeName));
        for (const Seen& s : seen) {
            const auto w = static_cast<Window>(s.handle);
            TWinInfo info;
            info.WinHandle = s.handle;
            info.OwnerWnd = reader.owner(w);
            if (info.OwnerWnd == 0) {
                info.OwnerName = "Desktop";
            } else {
                info.OwnerName = reader.title(static_cast<Window>(info.OwnerWnd));
                if (info.OwnerName.empty()) info.OwnerName = "NoName";
            }
            info.ClassName = reader.className(w);
            info.ProcessID = s.pid;
            if (auto it = exeByPid.find(s.pid); s.pid != 0 && it != exeByPid.end())
                info.ExeFile = it->second;
            info.Visible = reader.visible(w);
            windowList_.push_back(Line{s.title, std::move(info)});
        }
    }
    lastSeen_ = std::move(seen);
    if (enableTimer_) timerActive_ = true;
    return true;
}

uint32_t TWinList::ProcessId(int index) const {
    if (index < 0 || index >= static_cast<int>(windowList_.size())) return 0;
    return windowList_[static_cast<size_t>(index)].info.ProcessID;
}

std::string TWinList::ExeFile(int index) const {
    if (index < 0 || index >= static_cast<int>(windowList_.size())) return {};
    return windowList_[static_cast<size_t>(index)].info.ExeFile;
}

void TWinList::SetTimerIntval(int ms) {
    timerIntval_ = ms;
    if (ms <= 0) SetEnableTimer(false);
}

void TWinList::SetEnableTimer(bool on) {
    enableTimer_ = on;
    timerActive_ = on;
}

void TWinList::TimerTick() {
    if (timerIntval_ < 1) timerActive_ = false;
    const bool changed = Refresh();
    interaction().processMessages();
    if (changed && OnChanged) OnChanged(*this);
}

TWinList& WinList1() {
    static TWinList list;
    static const bool configured = [] {
        list.WhatDoFind = id_All;
        list.TaskBarSty = false;
        return true;
    }();
    (void)configured;
    return list;
}

}  // namespace qb
