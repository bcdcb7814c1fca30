#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/coded_status.h"
#include "platform/crypto_backend/crypto_backend_rsa.h"
#include "platform/crypto_backend/crypto_backend_session_key.h"
#include "platform/key_container.h"

namespace tiv {

using rsa_key_ptr = std::shared_ptr<const cryptoapi::rsa_key>;
using session_key_ptr = std::unique_ptr<cryptoapi::session_key>;
using rsa_key_or = status_or<rsa_key_ptr, cryptoapi::outcome>;
using session_key_or = status_or<session_key_ptr, cryptoapi::outcome>;

// The user's key container and key pairs, and every key operation the program needs. One process-wide
// instance serves the program (`process_crypto_provider`); tests make their own, each with its own key
// root, to hold two identities in one process. Key pairs are handed out as shared pointers, so a pair that
// the key management replaces stays alive for the transfers still using it.
class crypto_provider {
public:
    // Exchange key pairs made at the first start.
    static constexpr unsigned default_key_bits = 3072;
    static constexpr const char* default_container_name = "Velmora\\Quorvel";

    // `key_root` empty: the user's key container root. `initial_key_bits`: the length of pairs that
    // make_missing_pairs() makes (tests choose short keys to stay fast).
    explicit crypto_provider(std::string key_root = {}, unsigned initial_key_bits = default_key_bits);
    crypto_provider(const crypto_provider&) = delete;
    crypto_provider& operator=(const crypto_provider&) = delete;
    ~crypto_provider();

    // Opens the container and the pairs it holds, and takes the machine's key type policy, less the types whose
    // cipher cannot be had here. Nothing is created: keys appear only when the user asks for them, so a lost
    // key file is noticed instead of being replaced behind the user's back. Results are left in the flags.
    // Opening again starts over.
    void open(std::uint32_t machine_key_types);
    // After open(): the container, when it does not exist yet, made for a pair to be stored in.
    [[nodiscard]] cryptoapi::outcome open_or_create_container();
    // After open(): the container made when missing, and each pair whose file is absent made, of the initial
    // length. A file that is there but unusable is left alone. Ok when the provider is `ready`; otherwise the
    // first thing that kept it from being so.
    [[nodiscard]] cryptoapi::outcome make_missing_pairs();
    // Why the container could not be opened at the last attempt, worded for the user as the program's unexpected
    // errors are ("Unexpected Error", the container, the error number). Handed out once, so the user is told once
    // per attempt; ok afterwards, and when the container opened or simply does not exist yet, which the caller
    // words itself (keys never made, or lost).
    [[nodiscard]] cryptoapi::outcome take_open_failure();
    // The length of pairs that make_missing_pairs() makes.
    void set_initial_key_bits(unsigned bits) { m_nInitialKeyBits = bits; }
    // The key container root the last open() used, so a caller can say which key file is at fault.
    [[nodiscard]] const std::string& key_root() const { return m_strKeyRoot; }
    // The open container's directory, where files as private as the keys are kept; empty when none is open.
    [[nodiscard]] std::string key_directory() const;
    void close();

    // Takes the machine's key type policy, less the types whose cipher cannot be had here, for the next session
    // key. open() applies it too; the options change it while transfers run.
    void set_key_type_policy(std::uint32_t machine_key_types);
    // Recomputes `ready` from the container and the two pairs, after the key management replaced them.
    void refresh_ready();
    // Takes up a pair whose file was replaced since this provider last read or wrote it: by a rekey in another
    // process, or key files put back from a backup. A running listener calls it before each authentication, so a
    // key the user replaced stops answering at once; it costs one stat per key file while nothing changed.
    // A replaced file that cannot be used leaves that pair empty rather than keeping the old one. True when a
    // pair was taken up (or dropped).
    bool take_up_replaced_keys();

    // Replace a pair; `bits` as the key management offers them (1024 to 16384 in steps of 256). An exchange
    // pair that cannot be made at that length is retried once at 3072 bits; the retry's failure is the one told.
    [[nodiscard]] cryptoapi::outcome generate_exchange_key(unsigned bits);
    [[nodiscard]] cryptoapi::outcome generate_signature_key(unsigned bits);

    [[nodiscard]] rsa_key_ptr exchange_key() const;
    [[nodiscard]] rsa_key_ptr signature_key() const;

    // Refused when the type shares no bit with `allowed_key_types` or the container is not open. A value that
    // is not exactly one bit takes AES 256.
    [[nodiscard]] session_key_or generate_session_key(std::uint32_t type_bit);
    // A public key from a PUBLICKEYBLOB; refused on a malformed blob.
    [[nodiscard]] rsa_key_or import_public_key(std::span<const std::uint8_t> blob);
    // A session key from a SIMPLEBLOB wrapped for this user's exchange key.
    [[nodiscard]] session_key_or import_session_key(std::span<const std::uint8_t> blob);
    [[nodiscard]] cryptoapi::outcome export_public_key(const cryptoapi::rsa_key& key, std::uint32_t key_alg,
                                                       std::vector<std::uint8_t>& blob);
    [[nodiscard]] cryptoapi::outcome export_session_key(const cryptoapi::session_key& key,
                                                        const cryptoapi::rsa_key& wrapping,
                                                        std::vector<std::uint8_t>& blob);
    [[nodiscard]] cryptoapi::outcome random(std::span<std::uint8_t> out);

    // The public key as upper-case hex of its PUBLICKEYBLOB; returns its bit length, 0 (and no text) when
    // there is no key or the export fails.
    unsigned exchange_key_text(std::size_t bytes_per_line, std::string& text);
    unsigned signature_key_text(std::string& text, std::size_t bytes_per_line = 32);
    // The signature key's PUBLICKEYBLOB; empty when there is none.
    [[nodiscard]] std::vector<std::uint8_t> signature_key_blob();
    // The exchange key's PUBLICKEYBLOB; empty when there is none.
    [[nodiscard]] std::vector<std::uint8_t> exchange_key_blob();

    // The session key types whose cipher OpenSSL offers here.
    [[nodiscard]] static std::uint32_t available_key_types();

    std::atomic<bool> provider_acquired{false};
    std::atomic<std::uint32_t> allowed_key_types{0};
    std::atomic<bool> ready{false};
    std::atomic<bool> container_open{false};
    std::atomic<bool> container_created{false};
    std::atomic<bool> signature_key_created{false};
    std::atomic<bool> exchange_key_created{false};

private:
    cryptoapi::outcome open_container(bool create);
    void load_pairs();
    unsigned key_text(const rsa_key_ptr& key, std::uint32_t key_alg, std::size_t bytes_per_line, std::string& text);
    cryptoapi::outcome generate_pair(cryptoapi::key_pair_kind kind, unsigned bits);
    std::vector<std::uint8_t> public_blob(const rsa_key_ptr& key, std::uint32_t key_alg);
    // The member holding that pair, and the stamp of its file as last read or written; under m_oLock.
    rsa_key_ptr& held_pair(cryptoapi::key_pair_kind kind);
    cryptoapi::key_file_stamp& held_stamp(cryptoapi::key_pair_kind kind);
    // The pair's file read again, under m_oLock, with the stamp taken before the read: a file replaced during the
    // read is then seen as replaced at the next look. The pair is empty when the file cannot be used.
    cryptoapi::outcome reload_pair(cryptoapi::key_pair_kind kind);

    std::string m_strKeyRoot;
    bool m_bDefaultRoot;
    unsigned m_nInitialKeyBits;
    std::string m_strContainerName = default_container_name;
    mutable std::mutex m_oLock; // guards the container, the two key pointers, their stamps and the open failure
    cryptoapi::key_container m_oContainer;
    rsa_key_ptr m_pExchangeKey;
    rsa_key_ptr m_pSignatureKey;
    cryptoapi::key_file_stamp m_oExchangeStamp;
    cryptoapi::key_file_stamp m_oSignatureStamp;
    cryptoapi::outcome m_oOpenFailure;
};

// The program's one provider, opened by start-up.
crypto_provider& process_crypto_provider();

} // namespace tiv
