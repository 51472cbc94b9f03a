// Which WM_COMMAND messages are commands. One rule for every window and dialog of
// both programs, so that no control's own notification can run a command.
#pragma once

namespace platform {

// The notification code of a push button's click (BN_CLICKED); accelerators send 1
// and menus 0, both without a control.
constexpr unsigned kNotifyClicked = 0;

// An accelerator or a menu item sends no control handle: always a command. A control
// sends its own id with every notification, and only a button's click is a command;
// an edit's or combo box's focus, change and selection notices carry the id of the
// box, which may equal a command's id (Alt+U focuses the address box, id 1000) and
// must not run it.
inline bool IsCommandMessage(unsigned notifyCode, bool fromControl) {
    return !fromControl || notifyCode == kNotifyClicked;
}

}  // namespace platform
