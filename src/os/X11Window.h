#pragma once

#include <initializer_list>
#include <string>

class QWindow;

namespace orvix::x11 {

// True when the program runs on an X11 display (not offscreen, not Wayland).
bool isX11();

// The display the toolkit talks to, as XOpenDisplay takes it; empty without one.
std::string displayName();

// Whether Caps Lock is locked on the X server's core keyboard.
bool capsLockOn();

// Whether any pointer button is down, as the X server sees it: also while
// another client (the window manager resizing a window) holds the pointer.
bool pointerButtonDown();

// Asks the window manager to add the given _NET_WM_STATE atoms to a mapped
// window, and records them on the window for managers that read them at map.
void setNetWmStates(QWindow* window, std::initializer_list<const char*> states);

// The name the running window manager gives itself (_NET_SUPPORTING_WM_CHECK,
// then _NET_WM_NAME); empty without one.
std::string windowManagerName();

} // namespace orvix::x11
