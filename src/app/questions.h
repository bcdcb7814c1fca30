#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tiv::app {

// The buttons and the icon of a message box, and its answers. They keep the values of the Windows message box, so
// a front end maps them one to one.
enum question_style : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum question_answer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct file_filter {
    std::string label;    // "Profile Files": Qt adds the patterns
    std::string patterns; // "*.prf", several separated by ';'
};

struct file_chooser {
    std::string title;
    std::vector<file_filter> filters;
    // Where the chooser opens: a folder, or a folder and the file name it proposes. Empty: where it last was.
    std::string suggested;
};

// The program's choosers, so every front end offers the same titles and filters.
[[nodiscard]] file_chooser export_profile_chooser();
[[nodiscard]] file_chooser import_profile_chooser();
[[nodiscard]] file_chooser send_files_chooser();
inline constexpr const char* parcel_root_folder_title = "Select a default root directory";
inline constexpr const char* send_folder_title = "Select a folder to send";

// Everything the program asks the user: each front end implements it once (the desktop program with its
// dialogs, the command line without anyone to ask, tests with scripted answers). Called only on the front end's
// own thread; workers never ask, they tell the front end through its event sink.
class questions {
public:
    questions() = default;
    questions(const questions&) = delete;
    questions& operator=(const questions&) = delete;
    virtual ~questions() = default;

    // A message box: `style` holds the buttons and the icon (MB_*); the answer is IDOK, IDCANCEL, IDYES or IDNO.
    [[nodiscard]] virtual int ask(const std::string& text, const std::string& caption, unsigned style) = 0;
    // The choosers. A front end without any (the command line) keeps these, which answer as a user who cancels.
    // None when the user cancels.
    [[nodiscard]] virtual std::optional<std::string> choose_save_file(const file_chooser& chooser);
    [[nodiscard]] virtual std::optional<std::string> choose_open_file(const file_chooser& chooser);
    // Empty when the user cancels.
    [[nodiscard]] virtual std::vector<std::string> choose_open_files(const file_chooser& chooser);
    [[nodiscard]] virtual std::optional<std::string> choose_folder(const std::string& title);
    // One of `items`, which is never empty; none when the user cancels.
    [[nodiscard]] virtual std::optional<std::string> choose_one(const std::string& text, const std::string& caption,
                                                                const std::vector<std::string>& items);
};

} // namespace tiv::app
