#pragma once

#include "app/internal/only.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/internal/port_mapping_keeper.h"
#include "app/receive_service.h"
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

// The listener's life: started from a configuration, restarted on a new one, stopped. Used on the front end's
// thread; receiving transfers write through `files`.
class receiver final : public incoming_parcels {
public:
    explicit receiver(std::shared_ptr<const authentycryptor> authenticator,
                      std::shared_ptr<file_writer> files = shared_real_file_writer());
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

    [[nodiscard]] bool listening() const override;
    [[nodiscard]] const listen_config& config() const override { return m_oConfig; }
    // The address as resolved from the configuration, with its failure mark when it did not resolve.
    [[nodiscard]] const net_address& resolved_address() const;
    [[nodiscard]] std::string bound_address() const override;
    [[nodiscard]] std::string reachability() const override;
    // Where the router mapping's line goes as it changes, for other processes of the user (whoami).
    void set_reachability_publisher(port_mapping_keeper::publisher publish) { m_oPublish = std::move(publish); }
    // Hears of every row of the listeners started from now on as it ends, on the transfer's thread.
    void set_row_listener(std::function<void(const transfer_view&)> listener) { m_oRowListener = std::move(listener); }

    [[nodiscard]] std::vector<transfer_view> snapshots() const override;
    [[nodiscard]] std::size_t running_count() const override;
    std::size_t clear_completed() override;
    bool stop_transfer(std::uint64_t id) override;
    bool pause_transfer(std::uint64_t id) override;

    // The running listener itself, for start-up's own checks; null when stopped.
    [[nodiscard]] incoming_connection_handler* listener() const;

private:
    // The authenticator, the resolved address, the listener and the sweep of kept parts.
    struct parts;

    std::shared_ptr<file_writer> m_pFiles;
    listen_config m_oConfig;
    port_mapping_keeper::publisher m_oPublish;
    std::function<void(const transfer_view&)> m_oRowListener;
    std::unique_ptr<parts> m_pParts;
};

} // namespace tiv::app
