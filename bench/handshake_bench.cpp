// Cost of one key exchange with 3072-bit RSA keys over loopback, both ends in this process and pinned to one
// core, so the figure is CPU time per authentication rather than a measure of how many cores the box has.
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <sched.h>
#include <string>

#include "app/internal/settings/first_run.h"
#include "core/text.h"
#include "crypto/rsa_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/socket/net_socket.h"
#include "net/socket/socket_link.h"
#include "settings/friend_profile.h"
#include "settings/identity.h"
#include "settings/qvl_settings_data.h"

namespace {

struct person {
    std::string home;
    std::unique_ptr<tiv::qvl_settings_data> settings;
    std::unique_ptr<tiv::crypto_provider> provider;
};

person make_person(const std::string& root, const char* name) {
    person p;
    p.home = root + "/" + name;
    std::filesystem::create_directories(p.home);
    ::setenv("QUORVEL_HOME", p.home.c_str(), 1);
    p.settings = std::make_unique<tiv::qvl_settings_data>();
    tiv::set_machine_defaults(*p.settings);
    tiv::set_user_defaults(*p.settings);
    p.settings->load_settings();
    p.provider = std::make_unique<tiv::crypto_provider>(p.home + "/keys", tiv::crypto_provider::default_key_bits);
    p.provider->open(p.settings->number(tiv::number_setting::machine_key_types));
    (void)p.provider->make_missing_pairs();
    return p;
}

tiv::friend_profile profile_of(const person& p, const char* name) {
    tiv::friend_profile profile;
    tiv::copy_text_field(profile.name, name);
    tiv::copy_text_field(profile.uuid, p.settings->text(tiv::text_setting::user_uuid));
    profile.encryption_methods = 0xE40;
    const auto blob = p.provider->exchange_key_blob();
    profile.key.Assign(blob.data(), static_cast<std::int32_t>(blob.size()));
    profile.key_bytes = static_cast<std::int32_t>(blob.size());
    profile.key_bits = static_cast<std::int32_t>(p.provider->exchange_key()->bits());
    return profile;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
    cpu_set_t one_core;
    CPU_ZERO(&one_core);
    CPU_SET(0, &one_core);
    const bool pinned = ::sched_setaffinity(0, sizeof one_core, &one_core) == 0;

    const std::string root = (std::filesystem::temp_directory_path() / "quorvel-bench-handshake").string();
    std::filesystem::remove_all(root);
    person alice = make_person(root, "alice");
    person bob = make_person(root, "bob");
    if (!alice.provider->ready || !bob.provider->ready) {
        std::fprintf(stderr, "keys could not be made\n");
        return 1;
    }
    if (!tiv::save_profile(*bob.settings, profile_of(alice, "Alice"))) {
        std::fprintf(stderr, "profile could not be stored\n");
        return 1;
    }
    const tiv::friend_profile destination = profile_of(bob, "Bob");

    tiv::net_socket listener;
    tiv::net_address local{};
    local.endpoint.v4.sin_family = AF_INET;
    local.endpoint.v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!tiv::open_tcp_socket(listener) || !tiv::bind_socket(listener, local) || !tiv::listen_socket(listener)) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }

    int succeeded = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        tiv::net_socket client;
        if (!tiv::open_tcp_socket(client) || !tiv::connect_socket(client, listener.address)) {
            return 1;
        }
        auto accepted = tiv::accept_connection(listener, nullptr);
        if (!accepted) {
            std::fprintf(stderr, "%s\n", accepted.status().text().c_str());
            return 1;
        }
        const std::unique_ptr<tiv::net_socket> server = std::move(accepted.value());
        tiv::socket_link server_link(*server);
        tiv::socket_link client_link(client);
        tiv::rsa_authentycryptor sender(*alice.provider, *alice.settings);
        tiv::rsa_authentycryptor receiver(*bob.provider, *bob.settings);
        auto receiving = std::async(std::launch::async, [&] {
            tiv::friend_profile found;
            return receiver.AuthenticateAsReceiver(server_link, found);
        });
        const bool sent = sender.AuthenticateAsSender(client_link, destination);
        const bool received = receiving.get();
        succeeded += sent && received ? 1 : 0;
        ::shutdown(client.handle, SHUT_WR);
        ::shutdown(server->handle, SHUT_WR);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("key exchange, 3072-bit RSA, AES 256 agreed, loopback, %s\n",
                pinned ? "both ends pinned to one core" : "not pinned");
    std::printf("%d of %d authentications succeeded in %.2f s: %.1f authentications/s, %.1f ms each\n", succeeded,
                rounds, seconds, rounds / seconds, 1000.0 * seconds / rounds);
    std::filesystem::remove_all(root);
    return succeeded == rounds ? 0 : 1;
}
