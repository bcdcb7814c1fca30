#include "app/identity.h"

#include "app/internal/profile_service.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/identity_service.h"
#include "platform/paths.h"

namespace tiv::app {

namespace {
const reg::key& key_of(program& p, hive which) {
    return which == hive::machine ? settings_of(p).machine_key() : settings_of(p).user_key();
}
} // namespace

bool setup_complete(program& p, hive which) {
    return setup_complete(key_of(p, which));
}

status mark_setup_complete(program& p, hive which) {
    return mark_setup_complete(key_of(p, which));
}

void load_settings(program& p) {
    settings_of(p).load_settings();
}

void load_settings_with_defaults(program& p) {
    load_settings_with_defaults(settings_of(p));
}

status require_identity(program& p) {
    return require_identity(settings_of(p));
}

status set_up_identity(program& p, const identity_choices& choices, std::vector<std::string>& warnings) {
    return set_up_identity(settings_of(p), choices, warnings);
}

identity_summary describe_identity(program& p) {
    return describe_identity(settings_of(p), provider_of(p));
}

std::string user_name(program& p) {
    return settings_of(p).text(text_setting::user_name);
}

std::string suggested_profile_export_path(program& p) {
    std::string name = user_name(p);
    for (char& c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) {
            c = '_';
        }
    }
    // A leading dot would hide the file from the friend it is meant for.
    if (name.empty() || name.front() == '.') {
        name.insert(0, "profile");
    }
    return paths::user_home_directory() + "/" + name + ".prf";
}

result<std::string> export_profile(program& p, const std::string& chosen, bool overwrite) {
    return export_profile(settings_of(p), provider_of(p), chosen, overwrite);
}

} // namespace tiv::app
