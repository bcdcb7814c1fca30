#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/friends/friend_record.h"
#include "app/status.h"

namespace tiv::app {

class program;

// Rules a friend's profile must meet, for the options and dialogs that edit one.
[[nodiscard]] bool is_valid_key_type_mask(std::uint32_t mask);
[[nodiscard]] bool is_valid_friend_port(std::uint32_t port);
// invalid, with the reason, unless `address` is a host name, a dotted IPv4 or an IPv6 address that fits a profile
// (1 to 31 characters).
[[nodiscard]] status check_friend_address(const std::string& address);

// What the user decides about a friend; what is not given stays as it was (or as the import presets it).
struct friend_policy {
    std::optional<bool> accept = std::nullopt;
    std::optional<bool> messages = std::nullopt;
    std::optional<std::uint32_t> max_size = std::nullopt;
    std::optional<std::uint32_t> max_count = std::nullopt;
    std::optional<std::uint32_t> types = std::nullopt;
    std::optional<std::string> address = std::nullopt;
    std::optional<std::uint32_t> port = std::nullopt;
};
// An address longer than a profile holds is cut to fit.
void apply_friend_policy(const friend_policy& policy, friend_record& record);

// Whether a friend just imported may send, in the plain choices the desktop program asks with: "Refuse", "Accept
// files up to 100 MB", "Accept files up to 4 GB", "Accept any size". An accepted friend may send any number of
// files. The command line keeps its own defaults (--accept, --max-size, --max-count).
struct acceptance_choice {
    std::string label;
    friend_policy policy;
};
[[nodiscard]] const std::vector<acceptance_choice>& acceptance_choices();

// A profile file read as a friend record, checked, not yet stored, so a dialog can show it and let the user edit it
// first. A friend not stored yet gets the import's presets; a friend stored under that name keeps the receipt
// settings the user gave them (accept, size and count limits, key types, parcel box), which a file never carries.
// `warnings` says, as whole sentences, when the file's name had to change to become a profile name.
struct loaded_friend {
    friend_record record;
    std::vector<std::string> warnings;
};
[[nodiscard]] result<loaded_friend> load_profile_file(program& p, const std::string& path);

// invalid, with the reason, for a record the program could never use: a name that is blank or holds characters a
// profile name cannot (anything but ASCII letters, digits, blank, '-' and '_'), no valid UUID, no valid public key
// or signature key, no listening port from 1 to 65535, an address that check_friend_address refuses. No address at
// all is allowed: such a friend can send, and is sent to once they are given one.
[[nodiscard]] status check_friend(const friend_record& record);

// authentication_fingerprint of the record's keys, as the friend's own `whoami` shows it; empty without a key.
[[nodiscard]] std::string friend_fingerprint(const friend_record& record);
// Which keys friend_fingerprint covers, in the words `whoami` uses.
[[nodiscard]] const char* friend_fingerprint_coverage(const friend_record& record);

// The keys a stored friend is authenticated with, before and after a record replaces them.
struct key_change {
    std::string name;
    std::string old_fingerprint;
    std::string old_coverage;
    std::string new_fingerprint;
    std::string new_coverage;
};

// Whether storing `profile` would change the keys of the friend stored under its name: none for a new friend, for
// the same keys, or for a file without a signature key over a pinned friend with the same exchange key (the pin
// stays). A signature key given to a legacy friend is a change: from then on it alone authenticates them. A desktop
// program asks about the change it returns before it stores the record with consent.
[[nodiscard]] std::optional<key_change> find_key_change(program& p, const friend_record& record);

// Key changes are stored only with the user's consent, after they compared the new fingerprint with the friend.
// No file can be told to be older than the stored keys (a profile file has no date or serial number), so every
// file whose keys differ is treated alike: an old file that would bring back a replaced key needs the same
// consent as a friend's new one, and the fingerprints shown then let the user see it is not the one they compared.
enum class key_consent { keep_stored_keys, replace_keys };

struct stored_friend {
    friend_record record;  // as stored, with a pin kept from the stored profile
    bool replaced = false; // a profile of that name existed (usable or not) and was overwritten
    bool pinned = false;   // the stored profile is pinned, by this record or by a pin stored earlier
    std::optional<key_change> keys_replaced;
    std::vector<std::string> warnings; // whole sentences: a changed name, the overwrite, a pin that stays
};

// Checks the record and stores it under its name. Refused with conflict, naming the holder: a UUID that another
// profile or this user holds (the receiver finds friends by UUID, so two of them would make one unreachable or
// let one pose as the other); changed keys without consent; a record without a signature key whose exchange key
// differs from a pinned friend's (nothing can take a pin away, and the stored signature key would not match).
[[nodiscard]] result<stored_friend> store_friend(program& p, const friend_record& record,
                                                 key_consent consent = key_consent::keep_stored_keys);

// Changes a stored friend; not_found when there is no profile of that name, invalid for an address that
// check_friend_address refuses.
[[nodiscard]] status edit_friend(program& p, const std::string& name, const friend_policy& policy);
[[nodiscard]] status delete_friend(program& p, const std::string& name);

// One friend as a list shows it.
struct friend_summary {
    std::string name;
    std::string address; // as escaped_text shows it: one stored before addresses were checked may hold anything
    std::int32_t port = 0;
    std::string uuid;
    bool consistent = true; // false when the stored key data disagree with their counts
    std::int32_t key_bits = 0;
    std::string fingerprint; // empty when the profile holds no key
    std::string fingerprint_coverage;
    bool pinned = false;
    // The receipt settings, so a user can see why a friend's parcels are refused.
    bool receipt_enabled = false;
    bool accepts_messages = false;
    std::uint32_t max_file_size = 0;
    std::uint32_t max_file_count = 0;
    std::uint32_t key_types = 0;
    // "Bob's address changed from A:P to B:Q": the last change the friend told; empty when none.
    std::string address_change;
};

[[nodiscard]] result<std::vector<friend_summary>> list_friends(program& p);

// The stored friend of that name; not_found when there is none, invalid when its key data are inconsistent.
[[nodiscard]] result<friend_record> read_friend(program& p, const std::string& name);

// A stored friend as far as it reads, for a form that shows a damaged profile rather than hide it (and with it
// which friend the user is looking at). `damage` is a sentence naming the friend, the key that cannot be used and
// why; empty when both keys parse.
struct readable_friend {
    friend_record record;
    std::string damage;
};
[[nodiscard]] result<readable_friend> read_friend_as_is(program& p, const std::string& name);

// The same sentence for keys a form holds but has not stored (given in a key editor); empty when they parse.
[[nodiscard]] std::string friend_key_damage(const friend_record& record);

// The warning's first sentence when an import brings a name that is stored already, usable or not.
[[nodiscard]] std::string profile_name_taken(const std::string& name);

} // namespace tiv::app
