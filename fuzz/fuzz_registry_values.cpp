// Registry values of any type and size under the names the program reads: a friend profile's values and the
// settings of both hives. The input is a list of values, each
//   [name index] [type] [length, 2 bytes little-endian] [bytes, repeated as needed to fill the length]
// where the type byte is a registry type when below 8 and an unknown type code otherwise. They are stored as
// given, then read as the program reads them: typed reads, the profile, the look-up by UUID and the settings.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/registry/registry.h"
#include "platform/uuid.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace {

using namespace tiv;

constexpr const char* fuzzed_profile = "Fuzzed Profile";
// Longer than the program accepts, so the size limit is crossed too.
constexpr std::size_t longest_value = max_setting_bytes + 16;

enum class place { profile, user, machine };
struct value_name {
    place where;
    const char* name;
};

constexpr std::array<value_name, 29> value_names = {{
    {place::profile, names::profile_name},
    {place::profile, names::profile_uuid},
    {place::profile, names::parcel_receipt_enabled},
    {place::profile, names::receipt_directory},
    {place::profile, names::ip_address},
    {place::profile, names::ip_port},
    {place::profile, names::encryption_method},
    {place::profile, names::public_key_bits},
    {place::profile, names::public_key_bytes},
    {place::profile, names::public_key},
    {place::profile, names::max_file_size},
    {place::profile, names::max_file_count},
    {place::user, names::parcel_box_directory_root},
    {place::user, names::user_name},
    {place::user, names::user_uuid},
    {place::user, names::enabled_sk_caps},
    {place::user, names::installation_directory},
    {place::user, names::setup_complete},
    {place::machine, names::interface_ip_address},
    {place::machine, names::interface_ip_port},
    {place::machine, names::current_csp_sk_caps},
    {place::machine, names::enabled_sk_caps},
    {place::machine, names::external_name},
    {place::machine, names::current_csp},
    {place::machine, names::io_block_size},
    {place::machine, names::setup_complete},
    {place::machine, names::first_run},
    {place::profile, names::signature_key},
    {place::machine, names::legacy_exchange},
}};

template <std::size_t N> bool ends_in_field(const char (&field)[N]) {
    return ::strnlen(field, N) < N;
}

void check_typed_reads(const reg::key& k, const char* name) {
    const auto any = read_setting_value(k, name);
    if (any) {
        FUZZ_CHECK(any->size <= max_setting_bytes);
        FUZZ_CHECK(any->type == reg::REG_DWORD ? any->size == 4 && any->data.empty() : any->data.size() == any->size);
    }
    if (const auto text = read_text_setting(k, name)) {
        FUZZ_CHECK(any && text->size() <= any->size && text->find('\0') == std::string::npos);
    }
    if (read_dword_setting(k, name)) {
        FUZZ_CHECK(any && any->type == reg::REG_DWORD && any->size == 4);
    }
    if (const auto binary = read_binary_setting(k, name)) {
        FUZZ_CHECK(any && any->type == reg::REG_BINARY && binary->size() == any->size);
    }
}

void check_profile(fuzz::fuzz_identity& identity) {
    qvl_settings_data& settings = identity.settings();
    friend_profile record;
    const bool consistent = read_profile(settings, fuzzed_profile, record);
    FUZZ_CHECK(consistent == (settings.profile_key_mismatch == 0));
    FUZZ_CHECK(ends_in_field(record.name) && ends_in_field(record.uuid) && ends_in_field(record.address) &&
               ends_in_field(record.receipt_directory));
    FUZZ_CHECK(record.key.size >= 0 && (record.key.size == 0 || record.key.data != nullptr));
    if (record.pinned()) {
        // What the TLS exchange does with a pin.
        (void)identity.provider().import_public_key(record.signature_key);
    }
    if (consistent) {
        FUZZ_CHECK(record.key_bytes <= record.key.size);
        // What the authentication does with a stored key.
        if (record.key_bytes > 0) {
            (void)identity.provider().import_public_key({record.key.data, static_cast<std::size_t>(record.key_bytes)});
        }
    }
    if (const auto id = uuid_from_text(record.uuid)) {
        friend_profile found;
        (void)find_profile_by_uuid(settings, *id, found);
        FUZZ_CHECK(ends_in_field(found.name) && ends_in_field(found.uuid));
    }
    for (const std::string& name : list_profiles(settings)) {
        FUZZ_CHECK(!name.empty() && name.size() < 64);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fuzz_identity& identity = fuzz::fuzz_identity::instance();
    qvl_settings_data& settings = identity.settings();
    reg::key profile;
    FUZZ_CHECK(reg::create_key(settings.profile_list_key(), fuzzed_profile, profile) == reg::success);
    auto key_of = [&](place where) -> const reg::key& {
        return where == place::profile ? profile : where == place::user ? settings.user_key() : settings.machine_key();
    };

    std::vector<const value_name*> written;
    std::vector<std::uint8_t> value;
    std::size_t at = 0;
    while (at + 4 <= size) {
        const value_name& target = value_names[data[at] % value_names.size()];
        const std::uint32_t type = data[at + 1] < 8 ? data[at + 1] : 0x100U + data[at + 1];
        const std::size_t length = std::min<std::size_t>(data[at + 2] | data[at + 3] << 8, longest_value);
        at += 4;
        const std::size_t available = std::min(size - at, length);
        value.assign(length, 0);
        for (std::size_t i = 0; available > 0 && i < length; ++i) {
            value[i] = data[at + i % available];
        }
        at += available;
        FUZZ_CHECK(reg::set_value(key_of(target.where), target.name, type, value.data(),
                                  static_cast<std::uint32_t>(value.size())) == reg::success);
        written.push_back(&target);
    }

    for (const value_name* target : written) {
        check_typed_reads(key_of(target->where), target->name);
    }
    check_profile(identity);
    settings.load_settings();
    FUZZ_CHECK(settings.number(number_setting::listening_port) <= 0xFFFF);
    FUZZ_CHECK(settings.number(number_setting::io_block_size) <= largest_io_block_size);
    for (text_setting which :
         {text_setting::user_name, text_setting::user_uuid, text_setting::current_csp, text_setting::external_name,
          text_setting::interface_ip_address, text_setting::parcel_box_directory_root}) {
        FUZZ_CHECK(settings.text(which).find('\0') == std::string::npos);
    }

    for (const value_name* target : written) {
        if (target->where != place::profile) {
            (void)reg::delete_value(key_of(target->where), target->name);
        }
    }
    profile.close();
    FUZZ_CHECK(reg::delete_key(settings.profile_list_key(), fuzzed_profile) == reg::success);
    return 0;
}
