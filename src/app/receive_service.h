#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/transfer_view.h"

namespace tiv::app {

// The settings' default "KeptPartDays", which listen_config.cpp checks against them.
inline constexpr std::uint32_t default_kept_part_days = 7;

// What the listener is built from; the options and the user settings change these while the program runs.
struct listen_config {
    std::string interface_address;                         // the dotted address of "InterfaceIPAddress"
    std::uint32_t port = 0;                                // 0 asks the kernel for a free one
    int block_size = 0;                                    // "IOBlockSize"
    std::string parcel_root;                               // "ParcelBoxDirectoryRoot"
    std::uint32_t kept_part_days = default_kept_part_days; // "KeptPartDays"; 0 keeps no part of a broken transfer
    bool port_mapping = false;                             // "PortMapping": ask the router to forward the port
    std::uint32_t port_mapping_lifetime = 3600;            // "PortMappingLifetime": seconds asked of the router

    friend bool operator==(const listen_config&, const listen_config&) = default;
};

// The parcels arriving, as a front end reaches them through program::incoming(): the listener's state and address
// and its transfers. The program starts, restarts and stops the listener itself. Used on the front end's thread.
class incoming_parcels {
public:
    incoming_parcels(const incoming_parcels&) = delete;
    incoming_parcels& operator=(const incoming_parcels&) = delete;

    [[nodiscard]] virtual bool listening() const = 0;
    // What the listener was last started with.
    [[nodiscard]] virtual const listen_config& config() const = 0;
    // "127.0.0.1:20000" with the port actually bound; empty when not listening.
    [[nodiscard]] virtual std::string bound_address() const = 0;
    // Whether friends outside reach the listener through the router: "Reachable from the internet at
    // 203.0.113.7:20000 (UPnP, router 192.168.1.1)", or why not. Empty when not listening.
    [[nodiscard]] virtual std::string reachability() const = 0;

    [[nodiscard]] virtual std::vector<transfer_view> snapshots() const = 0;
    [[nodiscard]] virtual std::size_t running_count() const = 0;
    // Unlinks the finished transfers; how many.
    virtual std::size_t clear_completed() = 0;
    // Asks the running receiving transfer `id` to stop, without waiting: it ends failed, its temporary file
    // removed, and stays listed until cleared. False when no running transfer has that id.
    virtual bool stop_transfer(std::uint64_t id) = 0;
    // The same, keeping what arrived of the file under the kept part rules ("KeptPartDays"), so the sender's next
    // send of it goes on from there.
    virtual bool pause_transfer(std::uint64_t id) = 0;

protected:
    incoming_parcels() = default;
    ~incoming_parcels() = default;
};

} // namespace tiv::app
