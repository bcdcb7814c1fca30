#pragma once

#include <functional>
#include <string>

namespace tiv {

// Styles and answers keep the values of the Windows message box so front ends map them one to one.
enum message_style : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum message_answer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The one way the core asks the user something. Front ends install their own; the default writes
// the text to stderr and answers OK, so nothing in the core ever waits on a window.
using message_box_hook = std::function<int(const std::string& text, const std::string& caption, unsigned style)>;

// Installs a hook (an empty one restores the default) and returns the previous one.
message_box_hook set_message_box_hook(message_box_hook hook);
int show_message_box(const std::string& text, const std::string& caption, unsigned style);

} // namespace tiv
