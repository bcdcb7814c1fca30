#pragma once

#include "app/internal/only.h"

#include <memory>
#include <optional>
#include <string>

#include "app/internal/lan/lan_announcement.h"
#include "app/internal/receiver.h"
#include "app/questions.h"
#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/socket/net_address.h"
#include "net/transfer/incoming_connection_handler.h"
#include "settings/qvl_settings_data.h"

namespace tiv {

// "InstallationDirectory"/QVLLogfile.txt, or the default log directory when the value is missing; empty when the
// value is empty.
[[nodiscard]] std::string activity_log_path(const qvl_settings_data& settings);

// The program's start-up and orderly shutdown without windows: identity and keys, the listener with the
// process-wide authenticator, the parcel box root and the activity log file. The program (program.h) holds one and
// starts it, restarts the listener when the options change, and shuts it down (or lets the destructor do so).
// Start-up asks `answers` what it must tell the user, on the thread that starts it.
class program_spine {
public:
    // `answers` must outlive the spine.
    program_spine(qvl_settings_data& settings, crypto_provider& provider, app::questions& answers);
    program_spine(const program_spine&) = delete;
    program_spine& operator=(const program_spine&) = delete;
    ~program_spine();

    void start();
    // Clears the finished transfers, stops the listener and every transfer (temporary files are removed), closes
    // the log file. Does nothing a second time.
    void shutdown();

    // Rebuilds the listener on a new address, port, block size or parcel box root (its running transfers are
    // stopped); the outcome as listen_status() then reports it. Nothing listens while the keys are not usable
    // (receiver_readiness.h) or the receiver itself refuses; a log file that cannot be written stops nothing.
    // A configuration waiting for restart_when_idle is dropped: this one is newer.
    [[nodiscard]] app::status restart_listener(const app::listen_config& config);
    // restart_listener at once when no incoming transfer runs; otherwise `config` waits (replacing any that waited
    // before) until they have ended, so no parcel under way is cut off. True when it restarted now.
    bool restart_when_idle(const app::listen_config& config);
    // The waiting restart, once no incoming transfer runs; true when it ran. A window calls it on its timer.
    bool apply_pending_restart();
    [[nodiscard]] bool restart_pending() const { return m_oPendingConfig.has_value(); }
    // What the listener runs with, or will once the waiting restart has run.
    [[nodiscard]] const app::listen_config& intended_config() const;
    // Between start() and shutdown(): before, there is no listener to change, and start() reads the settings.
    [[nodiscard]] bool started() const { return m_bStarted; }
    // Whether the listener could listen, and if not, why: the keys, the parcel box root, a port in use,
    // an address that does not resolve, each with the path or address at fault.
    [[nodiscard]] const app::status& listen_status() const { return m_oListenStatus; }
    [[nodiscard]] app::receiver& incoming() { return m_oReceiver; }

    [[nodiscard]] incoming_connection_handler* listener() const { return m_oReceiver.listener(); }
    // The resolved listening address, with its failure mark when it did not resolve.
    [[nodiscard]] const net_address& listening_address() const { return m_oReceiver.resolved_address(); }
    [[nodiscard]] const std::string& log_path() const { return m_strLogPath; }
    [[nodiscard]] bool log_open() const { return m_bLogOpen; }
    // Why start() could not open the log file, as a front end says it once; ok when it is open.
    [[nodiscard]] const app::status& log_status() const { return m_oLogStatus; }

private:
    qvl_settings_data& m_oSettings;
    crypto_provider& m_oProvider;
    app::questions& m_oAnswers;
    std::shared_ptr<negotiating_authentycryptor> m_pAuthenticator;
    app::receiver m_oReceiver;
    std::unique_ptr<app::lan_announcement> m_pAnnouncement; // while listening
    app::status m_oListenStatus;
    std::optional<app::listen_config> m_oPendingConfig;
    app::status m_oLogStatus;
    std::string m_strLogPath;
    bool m_bLogOpen = false;
    bool m_bStarted = false;
};

} // namespace tiv
