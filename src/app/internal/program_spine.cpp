#include "app/internal/program_spine.h"

#include "app/internal/listen_config.h"
#include "app/internal/provider_report.h"
#include "app/internal/published_reachability.h"
#include "app/internal/settings/identity_service.h"
#include "app/internal/settings/receiver_readiness.h"
#include "log/activity_log.h"
#include "net/transfer/rthread.h"
#include "platform/paths.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

std::string activity_log_path(const qvl_settings_data& settings) {
    const std::optional<std::string> directory =
        installation_directory(settings.user_key(), paths::default_log_directory());
    return directory ? *directory + "/QVLLogfile.txt" : std::string();
}

program_spine::program_spine(qvl_settings_data& settings, crypto_provider& provider, app::questions& answers)
    : m_oSettings(settings), m_oProvider(provider), m_oAnswers(answers),
      m_pAuthenticator(std::make_shared<negotiating_authentycryptor>(provider, settings,
                                                                     negotiating_authentycryptor::version::conversing)),
      m_oReceiver(m_pAuthenticator) {
    m_oReceiver.set_reachability_publisher(
        [&settings](const std::string& line, const std::optional<router_mapping>& mapping) {
            app::publish_reachability(settings, line, mapping);
        });
}

program_spine::~program_spine() {
    shutdown();
}

void program_spine::start() {
    m_bStarted = true;
    // A start shows the provider's state once; keys that cannot be used also keep the listener from starting,
    // below, with the file, the reason and the way out.
    (void)app::open_identity(m_oSettings, m_oProvider);
    (void)report_provider_state(m_oProvider, m_oAnswers);

    const std::string root = m_oSettings.text(text_setting::parcel_box_directory_root);
    if (!create_directory_path(root)) {
        (void)m_oAnswers.ask(root, "Could Not Create!", app::MB_OK | app::MB_ICONERROR);
    }

    // Opened before the listener, so the sweep of leftovers and the first transfer are on record.
    m_strLogPath = activity_log_path(m_oSettings);
    m_oLogStatus = m_strLogPath.empty() ? app::status(app::status_code::invalid,
                                                      "the user setting \"InstallationDirectory\" is empty; set it "
                                                      "to the directory of the activity log, or delete it.")
                                        : app::open_log_file(m_strLogPath);
    m_bLogOpen = m_oLogStatus.ok();
    if (!m_bLogOpen) {
        // Parcels matter more than the record of them: the lines still reach the window and the console.
        m_oLogStatus = app::status(m_oLogStatus.code(),
                                   m_oLogStatus.text() + " Parcels are received all the same, without a log file.");
    }

    // A listener that cannot listen is no message at start-up; the front end shows listen_status() as it sees fit.
    (void)restart_listener(app::listen_config_of(m_oSettings));
}

app::status program_spine::restart_listener(const app::listen_config& config) {
    m_pAnnouncement.reset();
    m_oReceiver.stop();
    app::withdraw_reachability(m_oSettings);
    m_oListenStatus = app::check_receiving_keys(m_oSettings, m_oProvider);
    if (m_oListenStatus) {
        m_oListenStatus = m_oReceiver.start(config);
    }
    if (m_oListenStatus && m_oReceiver.listener() != nullptr) {
        m_pAnnouncement = app::lan_announcement::make(m_oSettings, m_oReceiver.listener()->listening_address());
    }
    // Last: `config` may be the waiting one itself.
    m_oPendingConfig.reset();
    return m_oListenStatus;
}

bool program_spine::restart_when_idle(const app::listen_config& config) {
    if (m_oReceiver.running_count() != 0) {
        m_oPendingConfig = config;
        return false;
    }
    (void)restart_listener(config);
    return true;
}

bool program_spine::apply_pending_restart() {
    if (!m_oPendingConfig || m_oReceiver.running_count() != 0) {
        return false;
    }
    (void)restart_listener(*m_oPendingConfig);
    return true;
}

const app::listen_config& program_spine::intended_config() const {
    return m_oPendingConfig ? *m_oPendingConfig : m_oReceiver.config();
}

void program_spine::shutdown() {
    if (!m_bStarted) {
        return;
    }
    m_bStarted = false;
    m_oPendingConfig.reset();
    m_pAnnouncement.reset();
    m_oReceiver.stop();
    app::withdraw_reachability(m_oSettings);
    // The listener has stopped every transfer; let their threads finish releasing what they hold.
    wait_for_transfer_threads();
    close_activity_log();
}

} // namespace tiv
