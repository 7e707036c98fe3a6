// Kept apart from the Qt sources: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>

namespace qb::ui {

bool CanOpenXDisplay() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XCloseDisplay(d);
    return true;
}

}  // namespace qb::ui
