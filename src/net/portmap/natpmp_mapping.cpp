#include "net/portmap/natpmp_mapping.h"

#include <algorithm>
#include <arpa/inet.h>
#include <poll.h>

#include <natpmp.h>

namespace tiv {

namespace {
using clock = std::chrono::steady_clock;

// One NAT-PMP socket towards the default gateway, closed with it.
class natpmp_session {
public:
    natpmp_session() : m_nOpened(initnatpmp(&m_oState, 0, 0)) {}
    ~natpmp_session() {
        if (m_nOpened == 0) {
            (void)closenatpmp(&m_oState);
        }
    }
    natpmp_session(const natpmp_session&) = delete;
    natpmp_session& operator=(const natpmp_session&) = delete;

    [[nodiscard]] bool opened() const { return m_nOpened == 0; }
    [[nodiscard]] natpmp_t& state() { return m_oState; }

    // The answer to the request just sent, waiting no later than `deadline`; the library resends on its own
    // schedule meanwhile. NATPMP_TRYAGAIN when the router never answered.
    int await(natpmpresp_t& response, clock::time_point deadline) {
        for (;;) {
            const int read = readnatpmpresponseorretry(&m_oState, &response);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            if (read != NATPMP_TRYAGAIN || left.count() <= 0) {
                return read;
            }
            timeval resend{};
            (void)getnatpmprequesttimeout(&m_oState, &resend);
            const long until_resend = resend.tv_sec * 1000 + resend.tv_usec / 1000;
            pollfd readable{m_oState.s, POLLIN, 0};
            (void)::poll(&readable, 1, static_cast<int>(std::clamp<long>(until_resend, 1, left.count())));
        }
    }

private:
    natpmp_t m_oState{};
    int m_nOpened;
};

std::string address_text(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, text, sizeof text) != nullptr ? text : "";
}

// What an answer other than success means for the user.
std::string failure_words(int code) {
    switch (code) {
    case NATPMP_TRYAGAIN:
    case NATPMP_ERR_RECVFROM:
    case NATPMP_ERR_NOGATEWAYSUPPORT:
        return "no router answered NAT-PMP";
    case NATPMP_ERR_NOTAUTHORIZED:
        return "the router refused: not authorized";
    case NATPMP_ERR_NETWORKFAILURE:
        return "the router refused: it has no connection to the internet";
    case NATPMP_ERR_OUTOFRESOURCES:
        return "the router refused: out of resources";
    case NATPMP_ERR_UNSUPPORTEDVERSION:
    case NATPMP_ERR_UNSUPPORTEDOPCODE:
        return "the router refused: it does not support NAT-PMP";
    default:
        return "the router refused: NAT-PMP error " + std::to_string(code);
    }
}
} // namespace

mapping_attempt natpmp_map(std::uint16_t port, std::uint16_t public_port, std::chrono::seconds lifetime,
                           std::chrono::milliseconds patience) {
    natpmp_session session;
    if (!session.opened()) {
        return {std::nullopt, "no default route to a router"};
    }
    const clock::time_point deadline = clock::now() + patience;
    natpmpresp_t response{};
    if (sendpublicaddressrequest(&session.state()) < 0) {
        return {std::nullopt, "no router answered NAT-PMP"};
    }
    if (const int read = session.await(response, deadline); read != 0) {
        return {std::nullopt, failure_words(read)};
    }
    router_mapping mapping;
    mapping.method = "NAT-PMP";
    mapping.router = address_text(in_addr{session.state().gateway});
    mapping.external_address = address_text(response.pnu.publicaddress.addr);
    mapping.internal_port = port;
    if (sendnewportmappingrequest(&session.state(), NATPMP_PROTOCOL_TCP, port, public_port,
                                  static_cast<std::uint32_t>(lifetime.count())) < 0) {
        return {std::nullopt, "no router answered NAT-PMP"};
    }
    if (const int read = session.await(response, deadline); read != 0) {
        return {std::nullopt, failure_words(read)};
    }
    mapping.external_port = response.pnu.newportmapping.mappedpublicport;
    mapping.lifetime = std::chrono::seconds(response.pnu.newportmapping.lifetime);
    return {mapping, {}};
}

} // namespace tiv
