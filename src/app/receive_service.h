#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/engine_objects.h"
#include "app/events.h"
#include "app/status.h"
#include "app/transfer_view.h"
#include "core/file_writer.h"

namespace tiv {
// What the program's start-up hands a receiver and reads back from it.
class authentycryptor;
class incoming_connection_handler;
struct net_address;
} // namespace tiv

namespace tiv::app {

// The settings' default "KeptPartDays", which receive_service.cpp checks against them.
inline constexpr std::uint32_t default_kept_part_days = 7;

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
// thread; receiving transfers report to `events` (when given) on their own threads and write through `files`.
class receiver {
public:
    explicit receiver(std::shared_ptr<const authentycryptor> authenticator, event_sink* events = nullptr,
                      std::shared_ptr<file_writer> files = shared_real_file_writer());
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
    [[nodiscard]] const net_address& resolved_address() const;
    // "127.0.0.1:20000" with the port actually bound; empty when not listening.
    [[nodiscard]] std::string bound_address() const;

    [[nodiscard]] std::vector<transfer_view> snapshots() const;
    [[nodiscard]] std::size_t running_count() const;
    // Unlinks the finished transfers; how many.
    std::size_t clear_completed();
    // Asks the running receiving transfer `id` to stop, without waiting: it ends failed, its temporary file
    // removed, and stays listed until cleared. False when no running transfer has that id.
    bool stop_transfer(std::uint64_t id);

    // The running listener itself, for start-up's own checks; null when stopped.
    [[nodiscard]] incoming_connection_handler* listener() const;

private:
    // The authenticator, the resolved address, the listener and the sweep of kept parts.
    struct parts;

    event_sink* m_pEvents;
    std::shared_ptr<file_writer> m_pFiles;
    listen_config m_oConfig;
    std::unique_ptr<parts> m_pParts;
};

} // namespace tiv::app
