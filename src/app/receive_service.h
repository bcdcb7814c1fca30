#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/events.h"
#include "app/status.h"
#include "crypto/authentycryptor.h"
#include "net/box/kept_part_sweep.h"
#include "net/socket/net_address.h"
#include "net/transfer/incoming_connection_handler.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

// What the listener is built from; the options and the user settings change these while the program runs.
struct listen_config {
    std::string interface_address;                         // the dotted address of "InterfaceIPAddress"
    std::uint32_t port = 0;                                // 0 asks the kernel for a free one
    int block_size = 0;                                    // "IOBlockSize"
    std::string parcel_root;                               // "ParcelBoxDirectoryRoot"
    std::uint32_t kept_part_days = default_kept_part_days; // "KeptPartDays"; 0 keeps no part of a broken transfer

    friend bool operator==(const listen_config&, const listen_config&) = default;
};

[[nodiscard]] listen_config listen_config_of(const qvl_settings_data& settings);

// The listener's life: started from a configuration, restarted on a new one, stopped. Used on the front end's
// thread; receiving transfers report to `events` (when given) on their own threads.
class receiver {
public:
    explicit receiver(std::shared_ptr<const authentycryptor> authenticator, event_sink* events = nullptr);
    receiver(const receiver&) = delete;
    receiver& operator=(const receiver&) = delete;
    ~receiver();

    // Stops any listener first (its transfers are stopped and their temporary files removed), makes sure of the
    // parcel box root (prepare_parcel_root), removes the temporary files that crashed receivers left in it and
    // the kept parts of broken transfers older than `kept_part_days` (again every hour while listening), then listens
    // as `config` says. A root that cannot take parcels is refused before anything listens; in_use when another
    // listener holds the address and port, unreachable when the address does not resolve; the text says where and
    // why, as a window shows it.
    [[nodiscard]] status start(const listen_config& config);
    // Stops listening and every receiving transfer; blocks until they have ended (a few seconds at most).
    void stop();

    [[nodiscard]] bool listening() const;
    [[nodiscard]] const listen_config& config() const { return m_oConfig; }
    // The address as resolved from the configuration, with its failure mark when it did not resolve.
    [[nodiscard]] const net_address& resolved_address() const { return m_oAddress; }
    // "127.0.0.1:20000" with the port actually bound; empty when not listening.
    [[nodiscard]] std::string bound_address() const;

    [[nodiscard]] std::vector<transfer_snapshot> snapshots() const;
    [[nodiscard]] std::size_t running_count() const;
    // Unlinks the finished transfers; how many.
    std::size_t clear_completed();
    // Asks the running receiving transfer `id` to stop, without waiting: it ends failed, its temporary file
    // removed, and stays listed until cleared. False when no running transfer has that id.
    bool stop_transfer(std::uint64_t id);

    // The running listener itself, for start-up's own checks; null when stopped.
    [[nodiscard]] incoming_connection_handler* listener() const { return m_pListener.get(); }

private:
    std::shared_ptr<const authentycryptor> m_pAuthenticator;
    event_sink* m_pEvents;
    listen_config m_oConfig;
    net_address m_oAddress{};
    std::unique_ptr<incoming_connection_handler> m_pListener;
    std::unique_ptr<kept_part_sweep> m_pKeptSweep; // from start to stop, listening or not
};

} // namespace tiv::app
