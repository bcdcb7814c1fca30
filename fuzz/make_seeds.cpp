// Writes the seed corpora: small real examples of every input the fuzz targets take, made with the program's own
// encoders and the fixed fuzzing keys. Usage: fuzz_make_seeds CORPUS_DIR (the repository's fuzz/corpus).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/hex_text.h"
#include "crypto/auth_records.h"
#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "crypto/session_ticket_file.h"
#include "fuzz_keys.h"
#include "fuzz_support.h"
#include "net/single_file/file_record.h"
#include "net/transfer/parcel_receipt.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/crypto_backend/crypto_backend_session_types.h"
#include "platform/crypto_backend/crypto_backend_simple_blob.h"
#include "platform/uuid.h"
#include "presence/icmp_message.h"
#include "settings/registry_names.h"

namespace {

using namespace tiv;
using bytes = std::vector<std::uint8_t>;

std::filesystem::path g_oRoot;

void write_seed(const std::string& target, const std::string& name, const bytes& content) {
    const std::filesystem::path directory = g_oRoot / target;
    std::filesystem::create_directories(directory);
    std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s/%s\n", target.c_str(), name.c_str());
        std::exit(1);
    }
}

bytes text_bytes(const std::string& text) {
    return bytes(text.begin(), text.end());
}

// A text behind the byte that chooses its kind.
bytes kind_text(std::uint8_t kind, const std::string& text) {
    bytes out{kind};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

template <std::size_t N> void append(bytes& out, const std::array<std::uint8_t, N>& more) {
    out.insert(out.end(), more.begin(), more.end());
}

// A session key of `type_bit` wrapped for `wrapping`, in a key block as the records carry it.
auth::key_block wrapped_block(std::uint32_t type_bit, const cryptoapi::rsa_key& wrapping) {
    const cryptoapi::session_cipher_params& params = cryptoapi::session_cipher_table()[key_type_index(type_bit)];
    cryptoapi::session_key key;
    bytes blob;
    if (!cryptoapi::session_key::generate(params.alg_id, params.key_bits, key) ||
        !cryptoapi::wrap_simple_blob(key, wrapping, blob)) {
        std::fprintf(stderr, "cannot wrap a session key\n");
        std::exit(1);
    }
    auth::key_block block;
    block.type_index = static_cast<std::uint16_t>(key_type_index(type_bit));
    block.key_bits = key_type_bits(type_bit);
    block.blob_length = static_cast<std::uint16_t>(blob.size());
    std::copy(blob.begin(), blob.end(), block.blob.begin());
    return block;
}

auth::cap_bytes cap_from(const char* uuid_text, std::uint32_t key_types) {
    auth::cap_record cap;
    cap.key_types = key_types;
    cap.user_uuid = uuid_to_guid_bytes(*uuid_from_text(uuid_text));
    return cap.encode();
}

void authentication_seeds(const cryptoapi::rsa_key& own) {
    constexpr std::uint32_t aes_256 = 0x800;
    constexpr std::uint32_t des3_168 = 0x040;
    auth::pass_record pass1;
    pass1.pass = 1;
    pass1.a = wrapped_block(aes_256, own);
    auth::pass_record pass3;
    pass3.pass = 3;
    pass3.b = wrapped_block(aes_256, own);

    bytes cap_only;
    append(cap_only, cap_from(fuzz::friend_uuid_text, 0xE40));
    write_seed("fuzz_auth_records", "capability", cap_only);
    bytes pass_only;
    append(pass_only, pass1.encode());
    write_seed("fuzz_auth_records", "pass1", pass_only);

    bytes receiver = cap_only;
    append(receiver, pass1.encode());
    append(receiver, pass3.encode());
    write_seed("fuzz_auth_receiver", "friend_aes256", receiver);
    bytes stranger;
    append(stranger, cap_from("01234567-89AB-CDEF-0123-456789ABCDEF", 0xFFF));
    append(stranger, pass1.encode());
    write_seed("fuzz_auth_receiver", "unknown_sender", stranger);

    write_seed("fuzz_negotiation_receiver", "legacy_friend", receiver);
    auth::cap_record tls_offer = auth::cap_record::decode(cap_from(fuzz::pinned_uuid_text, 0xE40));
    const exchange_marker::bytes offered = exchange_marker::of(exchange_marker::side::sender, 1);
    std::copy(offered.begin(), offered.end(), tls_offer.reserved.begin());
    bytes pinned;
    append(pinned, tls_offer.encode());
    write_seed("fuzz_negotiation_receiver", "pinned_tls_offer", pinned);
    auth::cap_record tls_answer = auth::cap_record::decode(cap_from(fuzz::friend_uuid_text, aes_256));
    const exchange_marker::bytes answered_tls = exchange_marker::of(exchange_marker::side::receiver, 1);
    std::copy(answered_tls.begin(), answered_tls.end(), tls_answer.reserved.begin());
    bytes answered{1};
    append(answered, tls_answer.encode());
    write_seed("fuzz_negotiation_sender", "pinned_tls_answer", answered);

    for (std::uint32_t type : {aes_256, des3_168}) {
        auth::pass_record pass2;
        pass2.pass = 2;
        pass2.a = wrapped_block(type, own);
        pass2.b = wrapped_block(type, own);
        bytes sender;
        append(sender, cap_from(fuzz::friend_uuid_text, type));
        append(sender, pass2.encode());
        write_seed("fuzz_auth_sender", type == aes_256 ? "answer_aes256" : "answer_3des168", sender);
        bytes legacy{0};
        legacy.insert(legacy.end(), sender.begin(), sender.end());
        write_seed("fuzz_negotiation_sender", type == aes_256 ? "legacy_aes256" : "legacy_3des168", legacy);
    }
}

void blob_seeds(const cryptoapi::rsa_key& own, const cryptoapi::rsa_key& friend_key) {
    write_seed("fuzz_public_key_blob", "keyx_1024", fuzz::public_blob_of(friend_key));
    bytes signature;
    if (!cryptoapi::export_public_key_blob(own, cryptoapi::calg_rsa_sign, signature)) {
        std::exit(1);
    }
    write_seed("fuzz_public_key_blob", "sign_1024", signature);

    const auth::key_block block = wrapped_block(0x800, own);
    bytes simple{0};
    simple.insert(simple.end(), block.blob.begin(), block.blob.begin() + block.blob_length);
    write_seed("fuzz_simple_blob", "aes256_blob", simple);
    struct plain_seed {
        const char* name;
        std::uint32_t alg;
        std::size_t length;
    };
    for (const plain_seed& seed :
         {plain_seed{"aes128_plain", cryptoapi::calg_aes_128, 16},
          plain_seed{"3des168_plain", cryptoapi::calg_3des, 24}, plain_seed{"rc4_40_plain", cryptoapi::calg_rc4, 5}}) {
        bytes plain{1};
        for (int i = 0; i < 4; ++i) {
            plain.push_back(static_cast<std::uint8_t>(seed.alg >> (8 * i)));
        }
        for (std::size_t i = 0; i < seed.length; ++i) {
            plain.push_back(static_cast<std::uint8_t>(0x11 * (i + 1)));
        }
        write_seed("fuzz_simple_blob", seed.name, plain);
    }
}

std::string friend_key_hex(const cryptoapi::rsa_key& friend_key, std::size_t per_line) {
    const bytes blob = fuzz::public_blob_of(friend_key);
    std::string hex;
    (void)hex_encode(blob, blob.size(), per_line, hex);
    return hex;
}

void text_seeds(const cryptoapi::rsa_key& friend_key) {
    const std::string hex = friend_key_hex(friend_key, 0);
    write_seed("fuzz_profile_file", "valid",
               text_bytes(std::string("NAME: Fuzz Friend\r\nUUID: ") + fuzz::friend_uuid_text +
                          "\r\nADDR: friend.example.org\r\nPORT: 2030\r\nAKEY: " + hex + "\r\n"));
    std::string lower = hex;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    write_seed("fuzz_profile_file", "lf_lower_case",
               text_bytes("AKEY: " + lower +
                          "\nNAME: Other_Friend\nUUID: 01234567-89ab-cdef-0123-456789abcdef\n"
                          "PORT: 65535\nUNKNOWN LINE\n"));

    const std::string wrapped = friend_key_hex(friend_key, 16);
    bytes hex_seed{static_cast<std::uint8_t>(wrapped.size()), static_cast<std::uint8_t>(wrapped.size() >> 8)};
    hex_seed.insert(hex_seed.end(), wrapped.begin(), wrapped.end());
    write_seed("fuzz_hex_decode", "key_in_lines", hex_seed);
    write_seed("fuzz_hex_decode", "odd_count", text_bytes(std::string("\x05\x00", 2) + "0aBc\r\nF"));

    file_record record;
    record.set_name("report 2024.pdf");
    record.file_size = 123456;
    const auto encoded = record.encode();
    write_seed("fuzz_file_record", "report", bytes(encoded.begin(), encoded.end()));
    record.set_name(std::string(255, 'n'));
    const auto longest = record.encode();
    write_seed("fuzz_file_record", "longest_name", bytes(longest.begin(), longest.end()));

    write_seed("fuzz_parcel_receipt", "stored", stored_receipt().encode());
    write_seed("fuzz_parcel_receipt", "over_size",
               refusal_receipt(receipt_reason::over_size, transfer_status::refused,
                               "the file of 5000 bytes is larger than the maximum of "
                               "1000 bytes")
                   .encode());

    write_seed("fuzz_adapter_files", "dhclient",
               kind_text(0, "lease {\n  interface \"eth0\";\n  fixed-address 192.168.1.23;\n"
                            "  option subnet-mask 255.255.255.0;\n  option dhcp-lease-time 86400;\n"
                            "  option dhcp-server-identifier 192.168.1.1;\n  renew 2 2024/01/02 10:00:00;\n"
                            "  expire 3 2024/01/03 10:00:00;\n}\nlease {\n  interface \"wlan0\";\n"
                            "  option dhcp-lease-time 3600;\n  option dhcp-server-identifier 10.0.0.1;\n"
                            "  expire epoch 1704276000; # Wed Jan 03 10:00:00 2024\n}\n"));
    write_seed("fuzz_adapter_files", "networkd",
               kind_text(1, "# This is private data. Do not parse.\nADDRESS=192.168.1.23\nNETMASK=255.255.255.0\n"
                            "ROUTER=192.168.1.1\nSERVER_ADDRESS=192.168.1.1\nLIFETIME=86400\n"));
    write_seed("fuzz_adapter_files", "resolv_conf",
               kind_text(2, "# generated\nsearch example.org\nnameserver 192.168.1.1\nnameserver 9.9.9.9 # quad\n"
                            "nameserver ::1\nnameserver 1.1.1.1\nnameserver 8.8.8.8\noptions edns0\n"));
}

void icmp_seeds() {
    const bytes ip_header = {0x45, 0, 0, 40, 0x12, 0x34, 0, 0, 64, 1, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
    bytes reply = build_echo_request(0xBEEF, 7, min_request_length);
    reply[0] = icmpv4.echo_reply;
    bytes raw{0};
    raw.insert(raw.end(), ip_header.begin(), ip_header.end());
    raw.insert(raw.end(), reply.begin(), reply.end());
    write_seed("fuzz_icmp_datagram", "raw_echo_reply", raw);
    bytes stripped{1};
    stripped.insert(stripped.end(), reply.begin(), reply.end());
    write_seed("fuzz_icmp_datagram", "datagram_echo_reply", stripped);

    const bytes request = build_echo_request(0xBEEF, 8, min_request_length);
    bytes exceeded{0};
    exceeded.insert(exceeded.end(), ip_header.begin(), ip_header.end());
    for (std::uint8_t b : {icmpv4.time_exceeded, std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{0},
                           std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{0}}) {
        exceeded.push_back(b);
    }
    exceeded.insert(exceeded.end(), ip_header.begin(), ip_header.end());
    exceeded.insert(exceeded.end(), request.begin(), request.begin() + 8);
    write_seed("fuzz_icmp_datagram", "time_exceeded", exceeded);
}

// One value for the registry target: [name index] [type] [length] [bytes].
void add_value(bytes& out, std::size_t name_index, std::uint8_t type, const bytes& value) {
    out.push_back(static_cast<std::uint8_t>(name_index));
    out.push_back(type);
    out.push_back(static_cast<std::uint8_t>(value.size()));
    out.push_back(static_cast<std::uint8_t>(value.size() >> 8));
    out.insert(out.end(), value.begin(), value.end());
}

bytes dword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

bytes sz(const std::string& text) {
    bytes value = text_bytes(text);
    value.push_back(0);
    return value;
}

void registry_seeds(const cryptoapi::rsa_key& friend_key) {
    // Indices into the target's table of value names.
    enum : std::size_t { name, uuid, receipt, directory, address, port, methods, bits, key_bytes, key, size, count };
    const bytes blob = fuzz::public_blob_of(friend_key);
    bytes valid;
    add_value(valid, name, 1, sz("Fuzzed Profile"));
    add_value(valid, uuid, 1, sz("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
    add_value(valid, receipt, 4, dword(1));
    add_value(valid, directory, 1, sz("FuzzedProfile"));
    add_value(valid, address, 1, sz("192.168.1.23"));
    add_value(valid, port, 4, dword(2030));
    add_value(valid, methods, 4, dword(0xE40));
    add_value(valid, bits, 4, dword(1024));
    add_value(valid, key_bytes, 4, dword(static_cast<std::uint32_t>(blob.size())));
    add_value(valid, key, 3, blob);
    add_value(valid, size, 4, dword(0xFFFFFFFF));
    add_value(valid, count, 4, dword(10));
    add_value(valid, 13, 1, sz("Fuzzing User"));
    add_value(valid, 19, 4, dword(2030));
    write_seed("fuzz_registry_values", "valid_profile", valid);

    bytes wrong;
    add_value(wrong, name, 3, text_bytes("no NUL and binary"));
    add_value(wrong, uuid, 2, sz("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
    add_value(wrong, bits, 1, sz("1024"));
    add_value(wrong, key_bytes, 4, dword(4000));
    add_value(wrong, key, 3, bytes(blob.begin(), blob.begin() + 14));
    add_value(wrong, port, 4, bytes{0x10, 0x20});
    add_value(wrong, 14, 3, dword(7));
    add_value(wrong, 21, 1, sz("0xFFF"));
    add_value(wrong, 24, 200, bytes(3, 0xFF));
    write_seed("fuzz_registry_values", "wrong_types", wrong);
}

// Any bytes stand for the session: the file's own checks come before OpenSSL ever reads it.
void ticket_seeds() {
    const tiv::ticket_slot slot =
        ticket_slot_for("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", bytes{6, 2}, bytes{6, 2}, "suite");
    write_seed("fuzz_ticket_file", "session", encode_ticket_file(slot, {bytes(48, 0x30), 1'800'000'000}));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    g_oRoot = argv[1];
    const cryptoapi::rsa_key own = fuzz::load_pem(fuzz::own_exchange_pem);
    const cryptoapi::rsa_key friend_key = fuzz::load_pem(fuzz::friend_exchange_pem);
    authentication_seeds(own);
    blob_seeds(own, friend_key);
    text_seeds(friend_key);
    icmp_seeds();
    registry_seeds(friend_key);
    ticket_seeds();
    return 0;
}
