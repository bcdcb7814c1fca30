// The system files the adapter information is read from: dhclient lease files, systemd-networkd lease files and
// resolv.conf. The first byte chooses the file kind; the rest is its text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "platform/adapter_sources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    if (size < 1) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0:
        for (const interface_lease& lease : parse_dhclient_leases(text)) {
            FUZZ_CHECK(!lease.interface.empty() && !lease.lease.server.empty());
            FUZZ_CHECK(lease.interface.size() < text.size() && lease.lease.server.size() < text.size());
        }
        break;
    case 1:
        if (const auto lease = parse_networkd_lease(text, 1700000000)) {
            FUZZ_CHECK(lease->server.size() < text.size());
        }
        break;
    default: {
        const auto servers = parse_resolv_conf(text);
        FUZZ_CHECK(servers.size() <= 3);
        for (const auto& server : servers) {
            FUZZ_CHECK(!server.empty() && server.size() < text.size());
        }
    }
    }
    return 0;
}
