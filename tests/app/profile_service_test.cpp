#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "app/identity_service.h"

#include "app/profile_service.h"
#include "core/text.h"
#include "settings/profile_file.h"
#include "support/fifo_call.h"
#include "support/temp_home.h"
#include "support/three_people.h"

namespace tiv {
namespace {

class ProfileService : public test::three_people_test {
protected:
    // Alice's profile file, exported as she would give it to a friend; `edit` changes its text first.
    std::string alice_file(const std::string& name = "alice", const std::function<void(std::string&)>& edit = nullptr) {
        EXPECT_TRUE(app::save_setting(s_pAlice->settings(), text_setting::user_name, "Alice").ok());
        const auto exported =
            app::export_profile(s_pAlice->settings(), s_pAlice->provider(), m_oFiles.path() + "/" + name);
        EXPECT_TRUE(exported.ok()) << exported.error().text();
        if (edit != nullptr) {
            std::string text;
            EXPECT_EQ(read_regular_file(*exported, profile_file_limit, text), file_read::ok);
            edit(text);
            std::FILE* file = std::fopen(exported->c_str(), "w");
            std::fputs(text.c_str(), file);
            std::fclose(file);
        }
        return *exported;
    }

    static void replace(std::string& text, const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    }

    test::temp_home m_oFiles;
};

TEST_F(ProfileService, ExportedProfileImportsWithTheImportsPresetsAndThePolicy) {
    const std::string file = alice_file();
    EXPECT_EQ(file, m_oFiles.path() + "/alice.prf");
    app::friend_policy policy;
    policy.accept = true;
    policy.types = 0x200;
    friend_profile imported;
    const auto stored = app::import_profile(s_pBob->settings(), file, policy, &imported);
    ASSERT_TRUE(stored.ok()) << stored.error().text();
    EXPECT_FALSE(stored->replaced);
    EXPECT_TRUE(stored->pinned) << "the SKEY line pins Alice";

    const auto alice = app::read_friend(s_pBob->settings(), "Alice");
    ASSERT_TRUE(alice.ok());
    EXPECT_STREQ(alice->uuid, s_pAlice->uuid().c_str());
    EXPECT_EQ(alice->receipt_enabled, 1);
    EXPECT_EQ(alice->encryption_methods, 0x200U);
    EXPECT_EQ(alice->max_file_size, 10240U) << "limits start at the smallest choice";
    EXPECT_EQ(alice->max_file_count, 10U);
    EXPECT_EQ(alice->port, 20000);
    EXPECT_EQ(alice->signature_key, s_pAlice->provider().signature_key_blob());
    EXPECT_EQ(app::friend_fingerprint(*alice), app::friend_fingerprint(s_pAlice->as_friend()));
}

TEST_F(ProfileService, ExportRefusesAListeningPortThatReadAsMissing) {
    qvl_settings_data& settings = s_pAlice->settings();
    const std::uint32_t kept = settings.number(number_setting::listening_port);
    settings.set_number(number_setting::listening_port, 0);
    const auto exported = app::export_profile(settings, s_pAlice->provider(), m_oFiles.path() + "/portless");
    settings.set_number(number_setting::listening_port, kept);
    EXPECT_EQ(exported.error().code(), app::status_code::invalid);
    EXPECT_FALSE(std::filesystem::exists(m_oFiles.path() + "/portless.prf"));
}

TEST_F(ProfileService, ImportRefusesProfilesThatCouldNeverWork) {
    const std::pair<const char*, std::function<void(std::string&)>> broken[] = {
        {"no usable name", [](std::string& t) { replace(t, "NAME: Alice", "NAME: !!"); }},
        {"no valid UUID", [](std::string& t) { replace(t, "UUID: ", "UUID: x"); }},
        {"no valid public key", [](std::string& t) { replace(t, "AKEY: 06", "AKEY: 07"); }},
        {"invalid signature key", [](std::string& t) { replace(t, "SKEY: 06", "SKEY: 07"); }},
        {"no listening port", [](std::string& t) { replace(t, "PORT: 20000", "PORT: 70000"); }},
    };
    for (const auto& [reason, edit] : broken) {
        const auto stored = app::import_profile(s_pBob->settings(), alice_file("broken", edit), {});
        EXPECT_EQ(stored.error().code(), app::status_code::invalid) << reason;
        EXPECT_NE(stored.error().text().find(reason), std::string::npos) << stored.error().text();
    }
    EXPECT_EQ(app::import_profile(s_pBob->settings(), m_oFiles.path() + "/missing.prf", {}).error().code(),
              app::status_code::not_found);
    EXPECT_TRUE(list_profiles(s_pBob->settings()).empty()) << "nothing was saved";
}

TEST_F(ProfileService, OnlyARegularFileUpToTheLimitIsReadAsAProfile) {
    const std::string fifo = m_oFiles.path() + "/fifo.prf";
    ASSERT_TRUE(test::make_fifo(fifo));
    app::status refused;
    EXPECT_TRUE(test::returns_without_a_writer(
        fifo, [&] { refused = app::import_profile(s_pBob->settings(), fifo, {}).error(); }, std::chrono::seconds(5)))
        << "refused at once, not waited on";
    EXPECT_EQ(refused.text(), fifo + " is not a regular file, so it holds no profile.");

    // An unknown line pads a real profile to the limit and one byte past it.
    const auto padded_to = [](std::size_t size) {
        return [size](std::string& t) { t += "PAD: " + std::string(size - t.size() - 7, 'x') + "\r\n"; };
    };
    const auto full = app::import_profile(s_pBob->settings(), alice_file("full", padded_to(profile_file_limit)), {});
    EXPECT_TRUE(full.ok()) << full.error().text();
    const std::string over = alice_file("over", padded_to(profile_file_limit + 1));
    EXPECT_EQ(app::import_profile(s_pBob->settings(), over, {}).error().text(),
              over + " is larger than 64 KiB, too large for a profile file.");
}

TEST_F(ProfileService, AUuidThatAnotherProfileHoldsIsRefusedByName) {
    ASSERT_TRUE(app::import_profile(s_pBob->settings(), alice_file(), {}).ok());
    const auto impostor = app::import_profile(
        s_pBob->settings(), alice_file("eve", [](std::string& t) { replace(t, "NAME: Alice", "NAME: Eve"); }), {});
    EXPECT_EQ(impostor.error().code(), app::status_code::conflict);
    EXPECT_EQ(impostor.error().text(),
              "the UUID " + s_pAlice->uuid() + " already belongs to the friend profile 'Alice'; nothing was saved.");
    EXPECT_EQ(list_profiles(s_pBob->settings()), std::vector<std::string>{"Alice"});

    const auto again = app::import_profile(
        s_pBob->settings(), alice_file("again", [](std::string& t) { replace(t, "NAME: Alice", "NAME: alice"); }), {});
    ASSERT_TRUE(again.ok()) << "the same profile under its own name (names ignore case) is an overwrite";
    EXPECT_TRUE(again->replaced);
}

TEST_F(ProfileService, OverwritingWarnsAndAPinOnceStoredStays) {
    ASSERT_TRUE(app::import_profile(s_pBob->settings(), alice_file(), {}).ok());
    const auto legacy = app::import_profile(
        s_pBob->settings(), alice_file("legacy", [](std::string& t) { t.erase(t.find("SKEY: ")); }), {});
    ASSERT_TRUE(legacy.ok());
    EXPECT_TRUE(legacy->replaced);
    EXPECT_TRUE(legacy->pinned);
    ASSERT_EQ(legacy->warnings.size(), 2U);
    EXPECT_EQ(legacy->warnings[0], "The profile name <Alice> is already in the database. It has been overwritten.");
    EXPECT_NE(legacy->warnings[1].find("stays pinned"), std::string::npos);
}

TEST_F(ProfileService, EditAndDeleteAFriend) {
    s_pBob->befriend(*s_pAlice);
    app::friend_policy policy;
    policy.accept = false;
    policy.address = "10.1.2.3";
    policy.port = 21000;
    ASSERT_TRUE(app::edit_friend(s_pBob->settings(), "Alice", policy).ok());
    const auto alice = app::read_friend(s_pBob->settings(), "Alice");
    ASSERT_TRUE(alice.ok());
    EXPECT_EQ(alice->receipt_enabled, 0);
    EXPECT_STREQ(alice->address, "10.1.2.3");
    EXPECT_EQ(alice->port, 21000);
    EXPECT_EQ(app::edit_friend(s_pBob->settings(), "Nobody", policy).code(), app::status_code::not_found);

    ASSERT_TRUE(app::delete_friend(s_pBob->settings(), "Alice").ok());
    EXPECT_EQ(app::delete_friend(s_pBob->settings(), "Alice").text(), "Failed to delete profile.");
    EXPECT_EQ(app::read_friend(s_pBob->settings(), "Alice").error().code(), app::status_code::not_found);
}

} // namespace
} // namespace tiv
