#include "ui/dialogs/profile_export.h"

#include "app/identity.h"
#include "app/keys.h"
#include "ui/message_style.h"

namespace tiv::ui {

namespace {
constexpr const char* export_caption = "Exporting Profile...";
} // namespace

std::optional<std::string> exportUserProfile(app::questions& questions, app::program& program) {
    if (const app::status keys = app::check_user_keys(program); !keys) {
        (void)questions.ask(sentenceText(keys.text()), export_caption, MB_OK | MB_ICONERROR);
        return std::nullopt;
    }
    app::file_chooser chooser = app::export_profile_chooser();
    chooser.suggested = app::suggested_profile_export_path(program);
    const std::optional<std::string> chosen = questions.choose_save_file(chooser);
    if (!chosen) {
        return std::nullopt;
    }
    // The chooser asked before the name it returned was replaced; a name that gets ".prf" appended was never
    // shown to the user, so a file of that name is left alone and the box says so.
    const bool replaceConfirmed = app::profile_export_path(*chosen) == *chosen;
    const auto written = app::export_profile(program, *chosen, replaceConfirmed);
    if (!written) {
        (void)questions.ask("Could not open the requested file!\n" + sentenceText(written.error().text()),
                            export_caption, MB_OK | MB_ICONERROR);
        return std::nullopt;
    }
    return written.value();
}

} // namespace tiv::ui
