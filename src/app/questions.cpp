#include "app/questions.h"

namespace tiv::app {

file_chooser export_profile_chooser() {
    return {"Exporting Profile...", {{"Profile Files", "*.prf"}, {"All Files", "*.*"}}, {}};
}

file_chooser import_profile_chooser() {
    return {"Importing Profile...", {{"Profile Files", "*.prf"}, {"All Files", "*.*"}}, {}};
}

file_chooser send_files_chooser() {
    return {"Select files to transfer...", {{"All Files", "*.*"}, {"C/C++ Files", "*.c;*.cpp;*.h"}}, {}};
}

std::optional<std::string> questions::choose_save_file(const file_chooser&) {
    return std::nullopt;
}

std::optional<std::string> questions::choose_open_file(const file_chooser&) {
    return std::nullopt;
}

std::vector<std::string> questions::choose_open_files(const file_chooser&) {
    return {};
}

std::optional<std::string> questions::choose_folder(const std::string&) {
    return std::nullopt;
}

std::optional<std::string> questions::choose_one(const std::string&, const std::string&,
                                                 const std::vector<std::string>&) {
    return std::nullopt;
}

} // namespace tiv::app
