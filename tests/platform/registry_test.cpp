#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "registry_test_util.h"
#include "support/temp_home.h"

namespace tiv::test {
namespace {

using namespace tiv::reg;

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

class registry_test : public home_test {};

TEST_F(registry_test, every_type_round_trips_through_a_fresh_connection) {
    const std::vector<std::pair<std::string, stored_value>> cases = {
        {"Text", {REG_SZ, bytes_of(std::string_view("Velmora\0", 8))}},
        {"Expand", {REG_EXPAND_SZ, bytes_of(std::string_view("%HOME%/x\0", 9))}},
        {"Binary", {REG_BINARY, {0x00, 0xff, 0x00, 0x10, 0x80}}},
        {"EmptyBinary", {REG_BINARY, {}}},
        {"Number", {REG_DWORD, {0x40, 0x0e, 0x00, 0x00}}},
        {"Multi", {REG_MULTI_SZ, bytes_of(std::string_view("one\0two\0\0", 9))}},
        {"Odd type", {0x7fff1234u, {1, 2, 3}}},
    };
    {
        key version = create(open_root_key(root::user), "Software\\Velmora\\Quorvel\\Version 1.2");
        for (const auto& [name, value] : cases) {
            ASSERT_EQ(write_bytes(version, name, value.type, value.data), success) << name;
        }
    }
    // Every key is closed, so this opens the database anew and reads what reached the file.
    key version;
    ASSERT_EQ(open_key(open_root_key(root::user), "Software\\Velmora\\Quorvel\\Version 1.2", version), success);
    for (const auto& [name, value] : cases) {
        const auto read = read_value(version, name);
        ASSERT_TRUE(read.has_value()) << name;
        EXPECT_EQ(read->type, value.type) << name;
        EXPECT_EQ(read->data, value.data) << name;
    }
}

TEST_F(registry_test, setting_a_value_again_replaces_type_and_data_and_keeps_the_first_spelling) {
    key k = create(open_root_key(root::user), "K");
    const std::uint32_t number = 20000;
    ASSERT_EQ(set_value(k, "InterfaceIPPort", REG_DWORD, &number, sizeof number), success);
    ASSERT_EQ(write_bytes(k, "INTERFACEIPPORT", REG_SZ, bytes_of(std::string_view("x\0", 2))), success);

    const auto read = read_value(k, "interfaceipport");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->type, static_cast<std::uint32_t>(REG_SZ));
    EXPECT_EQ(read->data, bytes_of(std::string_view("x\0", 2)));

    std::vector<value_entry> all;
    ASSERT_EQ(enum_values(k, all), success);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, "InterfaceIPPort");
}

TEST_F(registry_test, key_names_compare_without_ascii_case_and_keep_their_spelling) {
    key root_key = open_root_key(root::machine);
    bool created = false;
    key first;
    ASSERT_EQ(create_key(root_key, "Software\\Velmora\\Quorvel", first, &created), success);
    EXPECT_TRUE(created);

    key second;
    ASSERT_EQ(create_key(root_key, "SOFTWARE\\velmora\\QUORVEL", second, &created), success);
    EXPECT_FALSE(created);
    EXPECT_EQ(second.id(), first.id());

    key opened;
    ASSERT_EQ(open_key(root_key, "software\\VELMORA\\quorvel", opened), success);
    const std::uint32_t one = 1;
    ASSERT_EQ(set_value(first, "SetupComplete", REG_DWORD, &one, 4), success);
    EXPECT_TRUE(read_value(opened, "SETUPCOMPLETE").has_value());

    std::vector<std::string> names;
    ASSERT_EQ(enum_key_names(root_key, names), success);
    EXPECT_EQ(names, std::vector<std::string>{"Software"});

    // Only ASCII letters fold: these UTF-8 names are different keys.
    key upper = create(root_key, "\xc3\x84");
    key lower = create(root_key, "\xc3\xa4");
    EXPECT_NE(upper.id(), lower.id());
}

TEST_F(registry_test, value_names_compare_without_case_and_the_empty_name_is_the_default_value) {
    key k = create(open_root_key(root::user), "K");
    ASSERT_EQ(write_bytes(k, "", REG_SZ, bytes_of(std::string_view("default\0", 8))), success);
    ASSERT_EQ(write_bytes(k, "UserName", REG_SZ, bytes_of(std::string_view("ann\0", 4))), success);

    EXPECT_EQ(read_value(k, "USERNAME")->data, bytes_of(std::string_view("ann\0", 4)));
    EXPECT_EQ(read_value(k, "")->data, bytes_of(std::string_view("default\0", 8)));

    std::uint32_t size = 0;
    EXPECT_EQ(query_value(k, "UserNam", nullptr, nullptr, &size), file_not_found);
    // Neither data nor size: only whether the value exists.
    EXPECT_EQ(query_value(k, "username", nullptr, nullptr, nullptr), success);

    ASSERT_EQ(delete_value(k, "USERname"), success);
    EXPECT_EQ(query_value(k, "UserName", nullptr, nullptr, nullptr), file_not_found);
    EXPECT_EQ(delete_value(k, "UserName"), file_not_found);
    EXPECT_TRUE(read_value(k, "").has_value());
}

TEST_F(registry_test, buffer_sizes_at_the_8191_byte_limit) {
    key k = create(open_root_key(root::user), "K");
    std::vector<std::uint8_t> fits(8191);
    std::vector<std::uint8_t> too_big(8192);
    for (std::size_t i = 0; i < too_big.size(); ++i) {
        too_big[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    std::copy_n(too_big.begin(), fits.size(), fits.begin());
    ASSERT_EQ(write_bytes(k, "Fits", REG_BINARY, fits), success);
    ASSERT_EQ(write_bytes(k, "TooBig", REG_BINARY, too_big), success);

    // One spare byte past the capacity shows that nothing is written beyond it.
    std::vector<std::uint8_t> buffer(8192, 0xee);
    std::uint32_t size = 8191;
    std::uint32_t type = REG_NONE;
    ASSERT_EQ(query_value(k, "Fits", &type, buffer.data(), &size), success);
    EXPECT_EQ(size, 8191u);
    EXPECT_EQ(type, static_cast<std::uint32_t>(REG_BINARY));
    EXPECT_TRUE(std::equal(fits.begin(), fits.end(), buffer.begin()));
    EXPECT_EQ(buffer[8191], 0xee);

    std::fill(buffer.begin(), buffer.end(), 0xee);
    size = 8191;
    type = REG_NONE;
    EXPECT_EQ(query_value(k, "TooBig", &type, buffer.data(), &size), more_data);
    EXPECT_EQ(size, 8192u);
    EXPECT_EQ(type, static_cast<std::uint32_t>(REG_BINARY));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xee; }));

    size = 8192;
    ASSERT_EQ(query_value(k, "TooBig", nullptr, buffer.data(), &size), success);
    EXPECT_EQ(buffer, too_big);
}

TEST_F(registry_test, text_stored_without_its_nul_comes_back_exactly_as_stored) {
    key k = create(open_root_key(root::user), "K");
    ASSERT_EQ(set_value(k, "UserName", REG_SZ, "abc", 3), success);

    std::array<char, 8> buffer{};
    buffer.fill('#');
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    std::uint32_t type = REG_NONE;
    ASSERT_EQ(query_value(k, "UserName", &type, buffer.data(), &size), success);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(type, static_cast<std::uint32_t>(REG_SZ));
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), "abc#####");
}

TEST_F(registry_test, query_arguments_are_checked) {
    key k = create(open_root_key(root::user), "K");
    ASSERT_EQ(set_value(k, "V", REG_BINARY, "xyz", 3), success);
    char buffer[4] = {};
    EXPECT_EQ(query_value(k, "V", nullptr, buffer, nullptr), invalid_parameter);
    EXPECT_EQ(set_value(k, "V", REG_BINARY, nullptr, 3), invalid_parameter);
    EXPECT_EQ(set_value(k, std::string_view("a\0b", 3), REG_BINARY, "x", 1), invalid_parameter);
    EXPECT_EQ(set_value(k, std::string(max_value_name + 1, 'v'), REG_BINARY, "x", 1), invalid_parameter);
    EXPECT_EQ(set_value(k, std::string(max_value_name, 'v'), REG_BINARY, "x", 1), success);
    // A failed call leaves the value as it was.
    EXPECT_EQ(read_value(k, "V")->data, bytes_of("xyz"));
}

TEST_F(registry_test, subkeys_enumerate_in_case_insensitive_order) {
    key root_key = open_root_key(root::user);
    key list = create(root_key, "ProfileList");
    // In byte order "ALPHA2" and "Zeta" would come before "Alpha".
    for (const char* name : {"beta", "ALPHA2", "Zeta", "Alpha", "gamma"}) {
        create(list, name);
    }
    const std::vector<std::string> expected = {"Alpha", "ALPHA2", "beta", "gamma", "Zeta"};

    std::vector<std::string> names;
    ASSERT_EQ(enum_key_names(list, names), success);
    EXPECT_EQ(names, expected);

    for (std::uint32_t i = 0; i < expected.size(); ++i) {
        char name[256];
        std::uint32_t size = sizeof name;
        ASSERT_EQ(enum_key(list, i, name, &size), success) << i;
        EXPECT_EQ(size, expected[i].size());
        EXPECT_EQ(std::string(name), expected[i]);
    }
    char name[256];
    std::uint32_t size = sizeof name;
    EXPECT_EQ(enum_key(list, 5, name, &size), no_more_items);

    // "ALPHA2" needs 7 characters with its NUL.
    size = 6;
    EXPECT_EQ(enum_key(list, 1, name, &size), more_data);
    EXPECT_EQ(size, 6u);
    size = 7;
    ASSERT_EQ(enum_key(list, 1, name, &size), success);
    EXPECT_EQ(std::string(name), "ALPHA2");

    // Only direct subkeys are listed.
    create(list, "beta\\inner");
    ASSERT_EQ(enum_key_names(list, names), success);
    EXPECT_EQ(names, expected);
}

TEST_F(registry_test, values_enumerate_in_case_insensitive_order) {
    key k = create(open_root_key(root::user), "K");
    for (const char* name : {"b", "C", "a", ""}) {
        ASSERT_EQ(set_value(k, name, REG_BINARY, name, static_cast<std::uint32_t>(std::strlen(name))), success);
    }
    std::vector<value_entry> all;
    ASSERT_EQ(enum_values(k, all), success);
    std::vector<std::string> names;
    for (const value_entry& entry : all) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.data, bytes_of(entry.name));
        EXPECT_EQ(entry.type, static_cast<std::uint32_t>(REG_BINARY));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "a", "b", "C"}));
}

TEST_F(registry_test, delete_refuses_keys_with_subkeys_and_takes_the_values_along) {
    key root_key = open_root_key(root::user);
    key parent = create(root_key, "ProfileList");
    key profile = create(parent, "Bob\\Keys");
    ASSERT_EQ(open_key(parent, "Bob", profile), success);
    ASSERT_EQ(set_value(profile, "ProfileName", REG_SZ, "Bob", 4), success);

    EXPECT_EQ(delete_key(parent, "Bob"), access_denied);
    EXPECT_TRUE(read_value(profile, "ProfileName").has_value());
    EXPECT_EQ(delete_key(parent, "Nobody"), file_not_found);
    EXPECT_EQ(delete_key(parent, ""), invalid_parameter);

    ASSERT_EQ(delete_key(parent, "bob\\KEYS"), success);
    ASSERT_EQ(delete_key(parent, "BOB"), success);
    key gone;
    EXPECT_EQ(open_key(parent, "Bob", gone), file_not_found);
    EXPECT_FALSE(gone);

    // The open handle of the deleted key fails, and keeps failing after a key of that name returns.
    key again = create(parent, "Bob");
    EXPECT_NE(again.id(), profile.id());
    EXPECT_FALSE(read_value(again, "ProfileName").has_value());
    std::uint32_t size = 0;
    EXPECT_EQ(query_value(profile, "ProfileName", nullptr, nullptr, &size), key_deleted);
    EXPECT_EQ(set_value(profile, "ProfileName", REG_SZ, "B", 2), key_deleted);
    EXPECT_EQ(delete_value(profile, "ProfileName"), key_deleted);
    key child;
    EXPECT_EQ(create_key(profile, "Child", child), key_deleted);
    EXPECT_EQ(open_key(profile, "", child), key_deleted);
    std::vector<std::string> names;
    EXPECT_EQ(enum_key_names(profile, names), key_deleted);
    std::vector<value_entry> values;
    EXPECT_EQ(enum_values(profile, values), key_deleted);
    char name[16];
    size = sizeof name;
    EXPECT_EQ(enum_key(profile, 0, name, &size), key_deleted);
}

TEST_F(registry_test, paths_and_handles_are_checked) {
    key root_key = open_root_key(root::user);
    key out;
    for (const std::string_view bad :
         {std::string_view("\\A"), std::string_view("A\\"), std::string_view("A\\\\B"), std::string_view("A\0B", 3)}) {
        EXPECT_EQ(create_key(root_key, bad, out), invalid_parameter) << bad;
        EXPECT_FALSE(out);
    }
    EXPECT_EQ(create_key(root_key, std::string(max_key_name + 1, 'k'), out), invalid_parameter);
    EXPECT_EQ(create_key(root_key, std::string(max_key_name, 'k'), out), success);

    key none;
    char name[8];
    std::uint32_t size = sizeof name;
    std::vector<std::string> names;
    std::vector<value_entry> values;
    EXPECT_EQ(open_key(none, "A", out), invalid_handle);
    EXPECT_EQ(create_key(none, "A", out), invalid_handle);
    EXPECT_EQ(query_value(none, "V", nullptr, nullptr, &size), invalid_handle);
    EXPECT_EQ(set_value(none, "V", REG_BINARY, "x", 1), invalid_handle);
    EXPECT_EQ(delete_value(none, "V"), invalid_handle);
    EXPECT_EQ(enum_key(none, 0, name, &size), invalid_handle);
    EXPECT_EQ(enum_key_names(none, names), invalid_handle);
    EXPECT_EQ(enum_values(none, values), invalid_handle);
    EXPECT_EQ(delete_key(none, "A"), invalid_handle);

    // Closing makes the key "none"; the hive stays open for other keys.
    key closed = create(root_key, "Closed");
    closed.close();
    EXPECT_EQ(set_value(closed, "V", REG_BINARY, "x", 1), invalid_handle);
    EXPECT_EQ(open_key(root_key, "Closed", closed), success);
}

TEST_F(registry_test, opening_with_an_empty_path_and_into_the_parent_handle) {
    key k = create(open_root_key(root::user), "A\\B");
    key same;
    ASSERT_EQ(open_key(k, "", same), success);
    EXPECT_EQ(same.id(), k.id());

    // The result may replace the handle it was opened from.
    key walker = open_root_key(root::user);
    ASSERT_EQ(open_key(walker, "a", walker), success);
    ASSERT_EQ(open_key(walker, "b", walker), success);
    EXPECT_EQ(walker.id(), k.id());
    EXPECT_EQ(open_key(walker, "missing", walker), file_not_found);
    EXPECT_FALSE(walker);
}

TEST_F(registry_test, machine_and_user_roots_are_separate_files_in_the_home) {
    EXPECT_EQ(hive_location(root::machine), m_oHome.path() + "/machine.db");
    EXPECT_EQ(hive_location(root::user), m_oHome.path() + "/user.db");
    key machine = create(open_root_key(root::machine), "Software");
    key user = create(open_root_key(root::user), "Software");
    EXPECT_NE(machine.owner(), user.owner());
    ASSERT_EQ(set_value(machine, "Where", REG_SZ, "machine", 8), success);
    EXPECT_EQ(query_value(user, "Where", nullptr, nullptr, nullptr), file_not_found);
    EXPECT_TRUE(file_exists(hive_location(root::machine)));
    EXPECT_TRUE(file_exists(hive_location(root::user)));
}

TEST_F(registry_test, a_new_home_takes_effect_on_the_next_open_while_old_keys_stay_usable) {
    key first_user = create(open_root_key(root::user), "Software");
    ASSERT_EQ(set_value(first_user, "UserName", REG_SZ, "ann", 4), success);
    key same_hive = open_root_key(root::user);
    EXPECT_EQ(same_hive.owner(), first_user.owner());

    // A second user on the same computer: own user hive, shared machine hive.
    const std::string shared_machine = m_oHome.path() + "/shared/machine.db";
    ::setenv("QUORVEL_MACHINE_DB", shared_machine.c_str(), 1);
    key machine_of_first = create(open_root_key(root::machine), "Software");
    ASSERT_EQ(set_value(machine_of_first, "ExternalName", REG_SZ, "host", 5), success);
    {
        temp_home second_home;
        ::setenv("QUORVEL_MACHINE_DB", shared_machine.c_str(), 1);
        key second_user = open_root_key(root::user);
        EXPECT_NE(second_user.owner(), first_user.owner());
        key software;
        EXPECT_EQ(open_key(second_user, "Software", software), file_not_found);

        key machine_of_second;
        ASSERT_EQ(open_key(open_root_key(root::machine), "Software", machine_of_second), success);
        EXPECT_TRUE(read_value(machine_of_second, "ExternalName").has_value());
        EXPECT_TRUE(file_exists(second_home.path() + "/user.db"));
    }
    EXPECT_EQ(read_value(first_user, "UserName")->data, bytes_of(std::string_view("ann\0", 4)));
}

TEST_F(registry_test, new_hives_and_their_journals_are_for_their_owner_only) {
    const mode_t previous = ::umask(022);
    key user = create(open_root_key(root::user), "Software");
    ASSERT_EQ(set_value(user, "UserName", REG_SZ, "ann", 4), success);
    ::umask(previous);
    const auto expect_private = [](const std::string& path) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 0777, 0600U) << path;
    };
    expect_private(hive_location(root::user));
    expect_private(hive_location(root::user) + "-wal");

    // A user hive from before is closed to others when it is next opened.
    user.close();
    ASSERT_EQ(::chmod(hive_location(root::user).c_str(), 0644), 0);
    static_cast<void>(open_root_key(root::user));
    expect_private(hive_location(root::user));
}

TEST_F(registry_test, a_file_that_is_not_a_hive_cannot_be_opened) {
    std::ofstream(hive_location(root::user)) << "this is not an SQLite database, only some text in the way";
    key k;
    EXPECT_EQ(open_root(root::user, k), cannot_open_hive);
    EXPECT_FALSE(k);
    EXPECT_EQ(open_root(root::machine, k), success);
}

TEST_F(registry_test, a_hive_below_a_path_that_cannot_be_a_directory_is_refused) {
    std::ofstream(m_oHome.path() + "/plain-file") << "x";
    const std::string below_file = m_oHome.path() + "/plain-file/machine.db";
    ::setenv("QUORVEL_MACHINE_DB", below_file.c_str(), 1);
    key k;
    EXPECT_NE(open_root(root::machine, k), success);
    EXPECT_FALSE(k);
}

} // namespace
} // namespace tiv::test
