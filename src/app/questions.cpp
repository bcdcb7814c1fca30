#include "app/questions.h"

#include "app/events.h"

namespace tiv::app {

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
