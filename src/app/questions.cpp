#include "app/questions.h"

#include "app/events.h"
#include "platform/message_box.h"

namespace tiv::app {

namespace {
// The core's message boxes are answered through these questions as they come.
constexpr bool same_value(unsigned ours, unsigned core) {
    return ours == core;
}
static_assert(same_value(MB_OK, tiv::MB_OK) && same_value(MB_OKCANCEL, tiv::MB_OKCANCEL) &&
              same_value(MB_YESNO, tiv::MB_YESNO) && same_value(MB_ICONERROR, tiv::MB_ICONERROR) &&
              same_value(MB_ICONQUESTION, tiv::MB_ICONQUESTION) && same_value(MB_ICONWARNING, tiv::MB_ICONWARNING) &&
              same_value(MB_ICONINFORMATION, tiv::MB_ICONINFORMATION));
static_assert(same_value(IDOK, tiv::IDOK) && same_value(IDCANCEL, tiv::IDCANCEL) && same_value(IDYES, tiv::IDYES) &&
              same_value(IDNO, tiv::IDNO));
} // namespace

file_chooser export_profile_chooser() {
    return {"Exporting Profile...", {{"Profile Files", "*.prf"}, {"All Files", "*.*"}}};
}

file_chooser import_profile_chooser() {
    return {"Importing Profile...", {{"Profile Files", "*.prf"}, {"All Files", "*.*"}}};
}

file_chooser send_files_chooser() {
    return {"Select files to transfer...", {{"All Files", "*.*"}, {"C/C++ Files", "*.c;*.cpp;*.h"}}};
}

question_routing::question_routing(questions& answers, event_sink& events)
    : m_oPrevious(set_message_box_hook([&answers, &events, owner = std::this_thread::get_id()](
                                           const std::string& text, const std::string& caption, unsigned style) {
          if (std::this_thread::get_id() == owner) {
              return answers.ask(text, caption, style);
          }
          events.notice({text, caption, style});
          return static_cast<int>(IDOK);
      })) {}

question_routing::~question_routing() {
    set_message_box_hook(std::move(m_oPrevious));
}

} // namespace tiv::app
