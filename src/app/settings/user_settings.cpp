#include "app/settings/user_settings.h"

#include "app/internal/listen_config.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/identity_service.h"
#include "app/internal/settings/receiver_readiness.h"

namespace tiv::app {

namespace {
std::uint32_t usable_key_types(const qvl_settings_data& settings) {
    return settings.number(number_setting::machine_key_types) & settings.number(number_setting::provider_key_types) &
           settings.number(number_setting::user_key_types);
}
} // namespace

user_settings_view read_user_settings(program& p) {
    const qvl_settings_data& settings = settings_of(p);
    const identity_summary identity = describe_identity(settings, provider_of(p));
    user_settings_view view;
    view.user_name = identity.user_name;
    view.uuid = identity.uuid;
    view.parcel_root = identity.parcel_root;
    view.usable_key_types = usable_key_types(settings);
    view.fingerprint = identity.fingerprint;
    view.fingerprint_coverage = identity.fingerprint_coverage;
    return view;
}

user_settings_outcome apply_user_settings(program& p, const user_settings_choice& choice) {
    qvl_settings_data& settings = settings_of(p);
    program_spine& spine = spine_of(p);
    user_settings_outcome outcome;
    identity_choices checked;
    checked.name = choice.user_name;
    if (outcome.saved = check_identity_choices(checked); !outcome.saved) {
        return outcome;
    }
    const std::string stored_root = settings.text(text_setting::parcel_box_directory_root);
    const bool new_root = !choice.parcel_root.empty() && choice.parcel_root != stored_root;
    if (!choice.parcel_root.empty()) {
        outcome.root = prepare_parcel_root(choice.parcel_root);
    }
    // A new root that cannot take parcels is not written, nor is anything else: every start would fail on it, and
    // the user may still pick another or cancel with the old settings whole.
    if (new_root && !outcome.root) {
        return outcome;
    }
    outcome.saved = save_setting(settings, text_setting::user_name, choice.user_name);
    if (!outcome.saved || choice.parcel_root.empty()) {
        return outcome;
    }
    if (new_root) {
        outcome.saved = save_setting(settings, text_setting::parcel_box_directory_root, choice.parcel_root);
    }
    // A stored root refused again would only stop the listener: it keeps receiving where it can.
    if (!outcome.saved || !outcome.root || !spine.started() ||
        spine.intended_config().parcel_root == choice.parcel_root) {
        return outcome;
    }
    // What is stored is what a start would listen with; the address and port are stored only once in force.
    const listen_config config = listen_config_of(settings);
    outcome.reroot = spine.restart_when_idle(config) ? listener_reroot::restarted : listener_reroot::waiting;
    return outcome;
}

} // namespace tiv::app
