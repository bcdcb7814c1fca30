#include "app/program_spine.h"

#include "app/provider_report.h"

#include "app/first_run.h"
#include "log/activity_log.h"
#include "net/rthread.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "settings/identity.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

namespace {
bool setup_complete(const reg::key& k) {
    return read_dword_setting(k, names::setup_complete).value_or(0) != 0;
}
} // namespace

void open_identity(qvl_settings_data& settings, crypto_provider& provider) {
    if (!setup_complete(settings.machine_key())) {
        set_machine_defaults(settings);
    }
    if (!setup_complete(settings.user_key())) {
        set_user_defaults(settings);
    }
    settings.load_settings();
    provider.open(settings.number(number_setting::machine_key_types));
    (void)report_provider_state(provider);
}

std::string activity_log_path(const qvl_settings_data& settings) {
    const std::optional<std::string> directory = read_text_setting(settings.user_key(), names::installation_directory);
    return directory.value_or(paths::default_log_directory()) + "/QVLLogfile.txt";
}

program_spine::program_spine(qvl_settings_data& settings, crypto_provider& provider)
    : m_oSettings(settings), m_oProvider(provider),
      m_pAuthenticator(std::make_shared<negotiating_authentycryptor>(provider, settings)) {}

program_spine::~program_spine() {
    shutdown();
}

void program_spine::start() {
    m_bStarted = true;
    open_identity(m_oSettings, m_oProvider);

    const auto port = static_cast<std::uint16_t>(m_oSettings.number(number_setting::listening_port));
    (void)resolve_address(m_oSettings.text(text_setting::interface_ip_address).c_str(), port, m_oAddress);

    const std::string root = m_oSettings.text(text_setting::parcel_box_directory_root);
    m_pListener = std::make_unique<incoming_connection_handler>(
        root, m_oAddress, static_cast<int>(m_oSettings.number(number_setting::io_block_size)), m_pAuthenticator);

    if (!create_directory_path(root)) {
        show_message_box(root, "Could Not Create!", MB_OK | MB_ICONERROR);
    }

    m_strLogPath = activity_log_path(m_oSettings);
    // On a new machine the log directory may not exist yet.
    (void)paths::make_directories(paths::parent_directory(m_strLogPath));
    m_bLogOpen = open_activity_log(m_strLogPath);
}

void program_spine::shutdown() {
    if (!m_bStarted) {
        return;
    }
    m_bStarted = false;
    if (m_pListener != nullptr) {
        (void)m_pListener->clear_completed();
        m_pListener.reset();
    }
    // The listener has stopped every transfer; let their threads finish releasing what they hold.
    wait_for_transfer_threads();
    close_activity_log();
}

} // namespace tiv
