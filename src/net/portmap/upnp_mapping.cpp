#include "net/portmap/upnp_mapping.h"

#include <memory>
#include <string_view>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

namespace tiv {

namespace {
constexpr const char* mapping_description = "Quorvel";

struct device_list_deleter {
    void operator()(UPNPDev* list) const { freeUPNPDevlist(list); }
};

// The router's address as a user knows it, out of its description URL ("http://192.168.1.1:5000/rootDesc.xml").
std::string host_of(std::string_view url) {
    const std::size_t start = url.find("://");
    if (start == std::string_view::npos) {
        return std::string(url);
    }
    url.remove_prefix(start + 3);
    return std::string(url.substr(0, url.find_first_of(":/")));
}

std::string refusal(int code) {
    const char* words = strupnperror(code);
    return std::string("the router refused: ") + (words != nullptr ? words : "UPnP error " + std::to_string(code));
}

// Asks for `mapping`'s external port to lead to its internal client and port, and reads what the router says
// its internet address is.
mapping_attempt add(router_mapping mapping) {
    const std::string external = std::to_string(mapping.external_port);
    const std::string internal = std::to_string(mapping.internal_port);
    const std::string lease = std::to_string(mapping.lifetime.count());
    const int added = UPNP_AddPortMapping(mapping.control_url.c_str(), mapping.service_type.c_str(), external.c_str(),
                                          internal.c_str(), mapping.internal_client.c_str(), mapping_description, "TCP",
                                          nullptr, lease.c_str());
    if (added != UPNPCOMMAND_SUCCESS) {
        return {std::nullopt, refusal(added)};
    }
    char address[40] = {};
    const int asked = UPNP_GetExternalIPAddress(mapping.control_url.c_str(), mapping.service_type.c_str(), address);
    if (asked != UPNPCOMMAND_SUCCESS || address[0] == '\0') {
        (void)upnp_remove(mapping);
        return {std::nullopt, asked != UPNPCOMMAND_SUCCESS ? refusal(asked)
                                                           : "the router refused: it has no address on the internet"};
    }
    mapping.external_address = address;
    return {mapping, {}};
}
} // namespace

mapping_attempt upnp_map(std::uint16_t port, std::chrono::seconds lifetime, std::chrono::milliseconds patience) {
    int error = 0;
    const std::unique_ptr<UPNPDev, device_list_deleter> devices(
        upnpDiscover(static_cast<int>(patience.count()), nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error));
    if (devices == nullptr) {
        return {std::nullopt, "no router answered UPnP"};
    }
    UPNPUrls urls{};
    IGDdatas data{};
    char lan_address[64] = {};
    const int found = UPNP_GetValidIGD(devices.get(), &urls, &data, lan_address, sizeof lan_address);
    router_mapping mapping;
    if (found == 1) {
        mapping.method = "UPnP";
        mapping.router = host_of(urls.rootdescURL != nullptr ? urls.rootdescURL : "");
        mapping.control_url = urls.controlURL != nullptr ? urls.controlURL : "";
        mapping.service_type = data.first.servicetype;
        mapping.internal_client = lan_address;
        mapping.internal_port = port;
        mapping.external_port = port;
        mapping.lifetime = lifetime;
    }
    if (found != 0) {
        FreeUPNPUrls(&urls);
    }
    if (found != 1) {
        return {std::nullopt,
                found == 2 ? "the router refused: it is not connected to the internet" : "no router answered UPnP"};
    }
    return add(mapping);
}

mapping_attempt upnp_renew(const router_mapping& mapping) {
    return add(mapping);
}

bool upnp_remove(const router_mapping& mapping) {
    const std::string external = std::to_string(mapping.external_port);
    return UPNP_DeletePortMapping(mapping.control_url.c_str(), mapping.service_type.c_str(), external.c_str(), "TCP",
                                  nullptr) == UPNPCOMMAND_SUCCESS;
}

} // namespace tiv
