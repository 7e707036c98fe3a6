// The window list and the running check on a real X display: a private Xvfb
// server started for each test (skipped when Xvfb is not installed).
#include <poll.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/machine.h"
#include "support/running_check.h"
#include "support/win_list.h"
#include "testkit/testkit.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qb {
namespace {

using test::ChildProcess;
using test::ScopedEnv;
using test::TempDir;

std::string findXvfb() {
    for (const char* p : {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

// A private X server; DISPLAY names it while the object lives.
class XServer {
  public:
    XServer() {
        const std::string path = findXvfb();
        if (path.empty()) return;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        ChildProcess::Options opt;
        opt.displayFd = fds[1];
        opt.quiet = true;
        server_ = std::make_unique<ChildProcess>(
            path,
            std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten",
                                     "tcp", "-screen", "0", "320x240x24"},
            opt);
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty()) return;
        display_ = std::make_unique<ScopedEnv>("DISPLAY", ":" + number);
    }
    ~XServer() {
        display_.reset();
        if (server_) server_->terminate();  // lets it remove its socket and lock file
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool running() const { return display_ != nullptr; }

  private:
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ScopedEnv> display_;
};

// Windows made by the test itself, claiming to belong to another process (as a
// client's windows do through _NET_WM_PID).
class Windows {
  public:
    Windows() : d_(XOpenDisplay(nullptr)) {}
    ~Windows() {
        if (d_) XCloseDisplay(d_);
    }
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;
    explicit operator bool() const { return d_ != nullptr; }

    struct Spec {
        std::string title;
        pid_t pid = 0;
        bool mapped = true;
        Window owner = 0;
        bool skipTaskbar = false;
    };
    Window make(const Spec& s) {
        const Window w = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 50, 50, 0, 0, 0);
        if (!s.title.empty()) XStoreName(d_, w, s.title.c_str());
        XClassHint hint{const_cast<char*>("poco"), const_cast<char*>("PocoMain")};
        XSetClassHint(d_, w, &hint);
        if (s.pid) {
            const unsigned long pid = static_cast<unsigned long>(s.pid);
            XChangeProperty(d_, w, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&pid), 1);
        }
        if (s.owner) XSetTransientForHint(d_, w, s.owner);
        if (s.skipTaskbar) {
            const unsigned long skip = atom("_NET_WM_STATE_SKIP_TASKBAR");
            XChangeProperty(d_, w, atom("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&skip), 1);
        }
        if (s.mapped) XMapWindow(d_, w);
        XSync(d_, False);
        return w;
    }
    // Acts as a window manager's client list.
    void setClientList(const std::vector<Window>& windows) {
        std::vector<unsigned long> ids(windows.begin(), windows.end());
        XChangeProperty(d_, DefaultRootWindow(d_), atom("_NET_CLIENT_LIST"), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(ids.data()),
                        static_cast<int>(ids.size()));
        XSync(d_, False);
    }
    void destroy(Window w) {
        XDestroyWindow(d_, w);
        XSync(d_, False);
    }

  private:
    Atom atom(const char* name) { return XInternAtom(d_, name, False); }
    Display* d_;
};

std::vector<std::string> titles(const TWinList& list) {
    std::vector<std::string> out;
    for (const TWinList::Line& line : list.WindowList())
        out.push_back(line.title);
    return out;
}

class WinListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server.running()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(windows);
    }
    XServer server;
    Windows windows;
    TempDir bin;
    // The programs started here run in the current machine.
    ScopedEnv inMachine{"WINEPREFIX", platform::Machine::current().prefix().string()};
};

TEST_F(WinListTest, ListsTopLevelWindowsByVisibilityTitleAndTaskBarKind) {
    const std::string name = "qb" + std::to_string(::getpid()) + "-poco.exe";
    ChildProcess client = ChildProcess::namedSleep(bin.path(), name);
    const Window main = windows.make({"Inbox - Poco", client.pid()});
    windows.make({"Hidden helper", client.pid(), false});
    windows.make({"", client.pid()});
    windows.make({"Find", client.pid(), true, main});
    windows.make({"Tray", client.pid(), true, 0, true});

    TWinList list;  // as created: visible windows with a title, task-bar kind only
    EXPECT_TRUE(list.Refresh());
    EXPECT_TRUE(list.DisplayAvailable());
    EXPECT_EQ(titles(list), (std::vector<std::string>{"Inbox - Poco"}));
    const TWinInfo& info = list.WindowList()[0].info;
    EXPECT_EQ(info.WinHandle, main);
    EXPECT_EQ(info.ProcessID, static_cast<uint32_t>(client.pid()));
    EXPECT_EQ(info.ExeFile, name);
    EXPECT_EQ(info.ClassName, "PocoMain");
    EXPECT_EQ(info.OwnerName, "Desktop");
    EXPECT_EQ(list.ExeFile(0), name);
    EXPECT_EQ(list.ProcessId(0), static_cast<uint32_t>(client.pid()));
    EXPECT_FALSE(list.Refresh());  // nothing changed

    list.TaskBarSty = false;
    list.WhatDoFind = id_All;
    EXPECT_TRUE(list.Refresh());
    EXPECT_EQ(titles(list),
              (std::vector<std::string>{"Inbox - Poco", "Hidden helper", "Find", "Tray"}));
    EXPECT_EQ(list.WindowList()[2].info.OwnerWnd, main);
    EXPECT_EQ(list.WindowList()[2].info.OwnerName, "Inbox - Poco");

    list.WhatDoFind = id_InvisOnly;
    list.Refresh();
    EXPECT_EQ(titles(list), (std::vector<std::string>{"Hidden helper"}));

    list.WhatDoFind = id_All;
    list.EmptyNames = true;
    list.Refresh();
    EXPECT_EQ(titles(list),
              (std::vector<std::string>{"Inbox - Poco", "Hidden helper", "", "Find", "Tray"}));
}

TEST_F(WinListTest, FollowsTheWindowManagersClientListAndItsChanges) {
    ChildProcess client = ChildProcess::namedSleep(bin.path(), "poco.exe");
    const Window a = windows.make({"First", client.pid()});
    const Window b = windows.make({"Second", client.pid()});
    windows.make({"Not managed", client.pid()});
    windows.setClientList({b, a});

    TWinList list;
    int changes = 0;
    list.OnChanged = [&](TWinList&) { ++changes; };
    list.SetEnableTimer(true);
    EXPECT_TRUE(list.TimerActive());
    list.TimerTick();
    EXPECT_EQ(titles(list), (std::vector<std::string>{"Second", "First"}));
    EXPECT_EQ(changes, 1);
    list.TimerTick();
    EXPECT_EQ(changes, 1);  // unchanged: no event
    EXPECT_TRUE(list.TimerActive());

    const Window c = windows.make({"Third", client.pid()});
    windows.setClientList({b, a, c});
    list.TimerTick();
    EXPECT_EQ(titles(list), (std::vector<std::string>{"Second", "First", "Third"}));
    EXPECT_EQ(changes, 2);

    windows.destroy(a);
    windows.setClientList({b, c});
    list.TimerTick();
    EXPECT_EQ(titles(list), (std::vector<std::string>{"Second", "Third"}));
    EXPECT_EQ(changes, 3);

    list.SetTimerIntval(0);
    EXPECT_FALSE(list.EnableTimer());
    EXPECT_FALSE(list.TimerActive());
}

TEST_F(WinListTest, CloseAllEndsTheProcessBehindTheClientsWindows) {
    const std::string name = "qb" + std::to_string(::getpid()) + "-winpm-32.exe";
    ChildProcess client = ChildProcess::namedSleep(bin.path(), name);
    ChildProcess mciOnly = ChildProcess::namedSleep(bin.path(), name);
    ChildProcess bystander = ChildProcess::namedSleep(bin.path(), "bystander.exe");
    windows.make({"Pegasus Mail", bystander.pid()});  // same title, another program
    windows.make({"Pegasus Mail", client.pid()});
    windows.make({"Address book", client.pid(), false});  // hidden windows count too
    windows.make({"MCI command handling window", client.pid(), false});
    windows.make({"mci command handling window", mciOnly.pid(), false});

    ScriptedCloseProgramsDialog dialog({CloseChoice::CloseAll});
    ScopedCloseProgramsDialog scope(dialog);
    EXPECT_FALSE(AskToCloseWindows(name));
    ASSERT_EQ(dialog.shown.size(), 1u);
    // The process whose only window is an MCI window is not listed at all, and the
    // other program's window of the same title is left alone.
    EXPECT_EQ(dialog.shown[0], (std::vector<std::string>{"Pegasus Mail", "Address book"}));
    EXPECT_TRUE(client.ended());
    EXPECT_FALSE(mciOnly.ended());
    EXPECT_FALSE(bystander.ended());
    EXPECT_EQ(CloseDialogTag(), static_cast<int>(CloseChoice::CloseAll));
}

TEST_F(WinListTest, TwoWindowsOfOneClientAreClosedByEndingItsProcessOnce) {
    const std::string name = "qb" + std::to_string(::getpid()) + "-eudora.exe";
    ChildProcess client = ChildProcess::namedSleep(bin.path(), name);
    windows.make({"Eudora - [In]", client.pid()});
    windows.make({"Eudora - [Out]", client.pid()});

    std::vector<std::string> lines = {"Eudora - [In]", "Eudora - [Out]"};
    CloseAllPrograms(lines, name);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(client.ended());

    // A line that finds no window in the walk stays.
    lines = {"No such window"};
    CloseAllPrograms(lines, name);
    EXPECT_EQ(lines, (std::vector<std::string>{"No such window"}));
}

TEST(WinListHeadless, WithoutADisplayTheListIsEmptyAndNoError) {
    ScopedEnv noDisplay("DISPLAY", std::nullopt);
    TWinList list;
    EXPECT_FALSE(list.Refresh());
    EXPECT_FALSE(list.DisplayAvailable());
    EXPECT_TRUE(list.WindowList().empty());
    ScopedEnv badDisplay("DISPLAY", ":987");  // nothing listens there
    EXPECT_FALSE(list.Refresh());
    EXPECT_FALSE(list.DisplayAvailable());
}

}  // namespace
}  // namespace qb
