#include "app/internal/receiver.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "app/internal/port_mapping_keeper.h"
#include "app/internal/settings/identity_service.h"
#include "app/internal/settings/receiver_readiness.h"
#include "crypto/authentycryptor.h"
#include "net/box/kept_part_sweep.h"
#include "net/box/parcel_temporaries.h"
#include "net/socket/net_address.h"
#include "net/transfer/incoming_connection_handler.h"

namespace tiv::app {

namespace {
status_code code_of(int error) {
    switch (error) {
    case EADDRINUSE:
        return status_code::in_use;
    case EADDRNOTAVAIL:
        return status_code::unreachable;
    default:
        return status_code::io_failure;
    }
}
} // namespace

struct receiver::parts {
    std::shared_ptr<const authentycryptor> authenticator;
    net_address address{};
    std::unique_ptr<incoming_connection_handler> listener;
    std::unique_ptr<kept_part_sweep> kept_sweep;       // from start to stop, listening or not
    std::unique_ptr<port_mapping_keeper> port_mapping; // while listening on more than loopback, where allowed
};

receiver::receiver(std::shared_ptr<const authentycryptor> authenticator, std::shared_ptr<file_writer> files)
    : m_pFiles(std::move(files)), m_pParts(std::make_unique<parts>()) {
    m_pParts->authenticator = std::move(authenticator);
}

receiver::~receiver() {
    stop();
}

status receiver::start(const listen_config& config) {
    stop();
    m_oConfig = config;
    m_pParts->address = net_address{};
    if (status root = prepare_parcel_root(config.parcel_root); !root) {
        return root;
    }
    // What a crashed receiver of any listener left behind; a transfer still running elsewhere holds its file.
    (void)remove_stale_temporaries(config.parcel_root);
    // A part that waited its days for the same file in vain, now and every hour while listening; none is kept at all
    // when the user wants no resume.
    m_pParts->kept_sweep = std::make_unique<kept_part_sweep>(
        config.parcel_root, std::chrono::seconds(std::int64_t{config.kept_part_days} * 86400));
    const auto port = static_cast<std::uint16_t>(config.port);
    (void)resolve_address(listening_host(config.interface_address).c_str(), port, m_pParts->address);
    m_pParts->listener = std::make_unique<incoming_connection_handler>(
        config.parcel_root, m_pParts->address, config.block_size, m_pParts->authenticator,
        incoming_connection_handler::default_max_receiving, m_oRowListener, m_pFiles);
    m_pParts->listener->keep_broken_parts = config.kept_part_days > 0;
    if (!m_pParts->listener->listening()) {
        m_pParts->kept_sweep.reset();
        // Named as the user configured it, which the resolved address need not show.
        const int error = m_pParts->listener->setup_status().code();
        return {code_of(error), "cannot listen on " + config.interface_address + ":" + std::to_string(config.port) +
                                    ": " + std::strerror(error) + "."};
    }
    // A router forwards to an address of its network: a loopback listener has nothing it could forward to.
    if (config.port_mapping && !m_pParts->address.is_loopback()) {
        m_pParts->port_mapping = std::make_unique<port_mapping_keeper>(
            m_pParts->listener->listening_address().port(),
            port_mapping_keeper::timing{.lifetime = std::chrono::seconds(config.port_mapping_lifetime)}, m_oPublish);
    }
    return {};
}

std::string receiver::reachability() const {
    if (!listening()) {
        return {};
    }
    if (m_pParts->port_mapping != nullptr) {
        return m_pParts->port_mapping->reachability();
    }
    return unmapped_reachability(m_oConfig.port_mapping);
}

void receiver::stop() {
    m_pParts->port_mapping.reset();
    m_pParts->kept_sweep.reset();
    if (m_pParts->listener == nullptr) {
        return;
    }
    (void)m_pParts->listener->clear_completed();
    m_pParts->listener->stop();
    m_pParts->listener.reset();
}

const net_address& receiver::resolved_address() const {
    return m_pParts->address;
}

incoming_connection_handler* receiver::listener() const {
    return m_pParts->listener.get();
}

bool receiver::listening() const {
    return m_pParts->listener != nullptr && m_pParts->listener->listening();
}

std::string receiver::bound_address() const {
    return listening() ? endpoint_text(m_pParts->listener->listening_address()) : std::string();
}

std::vector<transfer_view> receiver::snapshots() const {
    return m_pParts->listener != nullptr ? m_pParts->listener->snapshots() : std::vector<transfer_view>{};
}

std::size_t receiver::running_count() const {
    return m_pParts->listener != nullptr ? m_pParts->listener->running_count() : 0;
}

std::size_t receiver::clear_completed() {
    return m_pParts->listener != nullptr ? m_pParts->listener->clear_completed() : 0;
}

bool receiver::stop_transfer(std::uint64_t id) {
    return m_pParts->listener != nullptr && m_pParts->listener->stop_transfer(id);
}

bool receiver::pause_transfer(std::uint64_t id) {
    return m_pParts->listener != nullptr && m_pParts->listener->stop_transfer(id, thread_bundle::arrived_part::keep);
}

} // namespace tiv::app
