#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/questions.h"
#include "app/reverse_name.h"
#include "app/status.h"

namespace tiv::app {

class program;

// The machine-wide options as the options dialog shows and writes them.
struct program_options {
    std::string interface_text; // "InterfaceIPAddress": a dotted address (an old label's host name is dropped)
    std::uint32_t port = 0;
    std::uint32_t block_size = 8192; // one of offered_block_sizes
    std::string external_name;
    std::uint32_t key_types = 0; // the machine's policy, within the provider's types
};

inline constexpr std::array<std::uint32_t, 4> offered_block_sizes{1024, 2048, 4096, 8192};
inline constexpr const char* loopback_interface_label = "127.0.0.1  [local loopback]";
inline constexpr const char* ipv6_loopback_address = "::1";
inline constexpr const char* ipv6_loopback_interface_label = "::1  [IPv6 loopback]";
// Listening on "::" takes connections to every address of both families.
inline constexpr const char* every_address = "::";
inline constexpr const char* every_address_label = "::  [every address, IPv6 and IPv4]";

// A stored block size the dialog does not offer (0 included) is shown, and stored again, as the largest.
[[nodiscard]] std::uint32_t offered_block_size(std::uint32_t stored);

// The options as stored; the key types are the policy AND the provider's types ("CurrentCSPSKCaps").
[[nodiscard]] program_options read_program_options(program& p);

// The key provider's name ("CurrentCSP") and the session key types it offers: a key type policy, the machine's or
// a friend's, is chosen within them.
[[nodiscard]] std::string provider_name(program& p);
[[nodiscard]] std::uint32_t offered_key_types(program& p);

// What a user must be told about the machine settings: a file that cannot be used (every machine value then reads
// as missing) or one this user may not write (no option can be applied). Names the file; none when all is well.
[[nodiscard]] std::optional<std::string> machine_settings_notice(program& p);

// invalid, saying why, when the port is outside 1 to 65535, the interface text does not start with a dotted
// IPv4 address or the external name is given but is no host name or address (address_text.h).
[[nodiscard]] status check_program_options(const program_options& options);

// One choice of the interface list: the address stored when it is chosen, and the label shown for it.
struct interface_entry {
    std::string address;
    std::string label;
};

// The interface list of the dialog, with the entry the stored address selects.
struct interface_entries {
    std::vector<interface_entry> entries;
    std::size_t selected = 0;
};

// Each address labelled "address  [name]", the IPv4 ones first, then, where the machine has IPv6 (`addresses` holds
// ::1 or another IPv6 address), the entry for every address ("::"), the IPv6 loopback entry when ::1 is among
// `addresses`, and the loopback entry last. The entry whose address is the stored one (or the one an old stored label
// starts with) is selected; a stored address that matches none is added after the machine's own addresses and
// selected, so opening the dialog never changes the listening address by itself. With nothing stored, loopback is
// selected.
[[nodiscard]] interface_entries interface_entries_for(const std::vector<reverse_name>& addresses,
                                                      const std::string& stored);

// The machine's addresses of both families (a link-local one with its zone, "fe80::1%eth0") with the names their
// reverse lookups give (their own text when there is none); 127.0.0.1 is left to its own entry, and ::1, when the
// machine has it, is given unnamed. Blocks on the lookups: callers off the window thread.
[[nodiscard]] std::vector<reverse_name> named_local_addresses();

// One item of a tree control with the items below it: the adapters are described so, as data, for a window to show.
struct tree_item {
    std::string text;
    std::vector<tree_item> children;
};

// The machine's adapters as tree items, one branch each (type, hardware address, addresses, DHCP lease, DNS
// servers); none when they cannot be read. Reads files and the interface list: callers off the window thread.
[[nodiscard]] std::vector<tree_item> machine_adapter_branches();

// The question asked before a new address or port ends the running incoming transfers.
inline constexpr const char* restart_question_text =
    "Changing the listening address at this\r\ntime will terminate current transfers.\r\nPress YES to be impatient. :)";
inline constexpr const char* restart_question_caption = "WARNING!!";
inline constexpr const char* empty_policy_question =
    "No session key type is approved: no parcel can be sent or received. Apply anyway?";

// What applying did; a window stays open unless `applied`.
struct options_applied {
    status outcome;         // why nothing (or not everything) was written; ok when all went through
    bool applied = false;   // written as far as the user agreed; false on a refusal or a declined question
    bool restarted = false; // the listener was rebuilt: the program's listen_status() says whether it listens
};

// Checks `chosen`, asks about an empty key type policy, decides whether the listener restarts (always when no
// incoming transfer runs; when some run, only for a new address or port and only after the user agrees), and only
// then writes: the policy (applied to the provider at once), the address and port when they take effect, the
// block size and the external name. An external name left as stored, or emptied, follows a new listening address
// when the stored one followed the old (external_name.h); this may wait on a lookup of this host's name. A machine
// settings file that cannot be written is reported before anything is written or restarted.
[[nodiscard]] options_applied apply_program_options(program& p, questions& questions, const program_options& chosen);

} // namespace tiv::app
