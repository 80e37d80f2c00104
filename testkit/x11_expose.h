// Shows a parent window's children anew, as a window manager does when it uncovers them: each gets an Expose
// event, and an editor paints a frame on it whatever its frame timer says. Include after Xlib (and after
// GoogleTest, whose names Xlib's macros clash with).
#pragma once

namespace testkit {

inline void ExposeChildren(Display* display, Window parent) {
    Window root, up, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count))
        for (unsigned i = 0; i < count; ++i) XClearArea(display, children[i], 0, 0, 0, 0, True);
    if (children) XFree(children);
    XSync(display, False);
}

} // namespace testkit
