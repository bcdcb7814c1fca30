#pragma once

#include <memory>
#include <string>

#include "crypto/crypto_provider.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/incoming_connection_handler.h"
#include "net/net_address.h"
#include "settings/qvl_settings_data.h"

namespace tiv {

// The first-run defaults where set-up is not complete, every setting, and the user's keys: what any front end needs
// before it can send or receive. The provider's state is reported through the message-box hook.
void open_identity(qvl_settings_data& settings, crypto_provider& provider);

// "InstallationDirectory"/QVLLogfile.txt, or the default log directory when the value is missing.
[[nodiscard]] std::string activity_log_path(const qvl_settings_data& settings);

// The program's start-up and orderly shutdown without windows: identity and keys, the listening address, the
// listener with the process-wide RSA authenticator, the parcel box root and the activity log file. A front end
// starts it, shows what it holds, and shuts it down (or lets the destructor do so).
class program_spine {
public:
    program_spine(qvl_settings_data& settings, crypto_provider& provider);
    program_spine(const program_spine&) = delete;
    program_spine& operator=(const program_spine&) = delete;
    ~program_spine();

    void start();
    // Clears the finished transfers, stops the listener and every transfer (temporary files are removed), closes
    // the log file. Does nothing a second time.
    void shutdown();

    [[nodiscard]] incoming_connection_handler* listener() const { return m_pListener.get(); }
    // The resolved listening address, with its failure mark when it did not resolve.
    [[nodiscard]] const net_address& listening_address() const { return m_oAddress; }
    [[nodiscard]] const std::shared_ptr<negotiating_authentycryptor>& authenticator() const { return m_pAuthenticator; }
    [[nodiscard]] const std::string& log_path() const { return m_strLogPath; }
    [[nodiscard]] bool log_open() const { return m_bLogOpen; }

private:
    qvl_settings_data& m_oSettings;
    crypto_provider& m_oProvider;
    std::shared_ptr<negotiating_authentycryptor> m_pAuthenticator;
    std::unique_ptr<incoming_connection_handler> m_pListener;
    net_address m_oAddress;
    std::string m_strLogPath;
    bool m_bLogOpen = false;
    bool m_bStarted = false;
};

} // namespace tiv
