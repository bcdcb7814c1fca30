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

} // namespace tiv::app
