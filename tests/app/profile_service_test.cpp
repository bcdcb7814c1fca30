#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "app/internal/settings/identity_service.h"

#include "app/friends/friend_form.h"
#include "app/internal/friend_records.h"
#include "app/internal/profile_service.h"
#include "core/text.h"
#include "crypto/fingerprint.h"
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
            app::export_profile(s_pAlice->settings(), s_pAlice->provider(), m_oFiles.path() + "/" + name, true);
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

    // The value of the line that starts with `key` ("SKEY: ") becomes `value`.
    static void set_line(std::string& text, const std::string& key, const std::string& value) {
        const std::size_t start = text.find(key) + key.size();
        text.replace(start, text.find("\r\n", start) - start, value);
    }

    // Alice's file with Mallory's signature key: what a forger who has Alice's real exchange key would send.
    std::string forged_alice_file(const std::string& name = "forged") {
        std::string mallory_signature;
        EXPECT_NE(s_pMallory->provider().signature_key_text(mallory_signature, 0), 0U);
        return alice_file(name, [&](std::string& t) { set_line(t, "SKEY: ", mallory_signature); });
    }

    static std::string without_signature_key(std::string text) {
        text.erase(text.find("SKEY: "));
        return text;
    }

    test::temp_home m_oFiles;
};

TEST_F(ProfileService, ExportedProfileImportsWithTheImportsPresetsAndThePolicy) {
    const std::string file = alice_file();
    EXPECT_EQ(file, m_oFiles.path() + "/alice.prf");
    app::friend_policy policy;
    policy.accept = true;
    policy.types = 0x200;
    const auto stored = app::import_profile(s_pBob->settings(), file, policy);
    ASSERT_TRUE(stored.ok()) << stored.error().text();
    EXPECT_FALSE(stored->replaced);
    EXPECT_TRUE(stored->pinned) << "the SKEY line pins Alice";

    const auto alice = app::read_friend(s_pBob->settings(), "Alice");
    ASSERT_TRUE(alice.ok());
    EXPECT_EQ(alice->uuid, s_pAlice->uuid());
    EXPECT_TRUE(alice->receipt_enabled);
    EXPECT_EQ(alice->key_types, 0x200U);
    EXPECT_EQ(alice->max_file_size, 10240U) << "limits start at the smallest choice";
    EXPECT_EQ(alice->max_file_count, 10U);
    EXPECT_EQ(alice->port, 20000);
    EXPECT_EQ(alice->signature_key, s_pAlice->provider().signature_key_blob());
    const auto alice_sees = app::describe_identity(s_pAlice->settings(), s_pAlice->provider());
    EXPECT_EQ(app::friend_fingerprint(*alice), alice_sees.fingerprint) << "Bob compares what Alice's whoami shows";
    EXPECT_EQ(app::friend_fingerprint_coverage(*alice), alice_sees.fingerprint_coverage);
    EXPECT_EQ(alice_sees.fingerprint_coverage, "pinned: exchange and signature keys");
}

TEST_F(ProfileService, AForgedSignatureKeyShowsAFingerprintOtherThanTheFriendsOwn) {
    const auto forged = app::load_profile_file(s_pBob->settings(), forged_alice_file());
    ASSERT_TRUE(forged.ok()) << forged.error().text();
    const auto alice_sees = app::describe_identity(s_pAlice->settings(), s_pAlice->provider());
    EXPECT_EQ(forged->record.key_bytes, s_pAlice->as_friend().key_bytes) << "Alice's real exchange key";
    EXPECT_NE(app::friend_fingerprint(forged->record), alice_sees.fingerprint);

    // Without a signature key only the exchange key authenticates, and the fingerprint says so.
    const auto legacy = app::load_profile_file(
        s_pBob->settings(), alice_file("legacy", [](std::string& t) { t = without_signature_key(t); }));
    ASSERT_TRUE(legacy.ok());
    EXPECT_EQ(app::friend_fingerprint(legacy->record), key_fingerprint(s_pAlice->provider().exchange_key_blob()));
    EXPECT_EQ(app::friend_fingerprint_coverage(legacy->record), std::string("legacy: exchange key"));
}

TEST_F(ProfileService, ChangedKeysAreStoredOnlyWithConsentAndAnOldFileCannotBringThemBack) {
    const std::string original = alice_file("original");
    ASSERT_TRUE(app::import_profile(s_pBob->settings(), original, {}).ok());
    const std::string alice_fingerprint = app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice"));
    const std::string forged = forged_alice_file();

    const auto loaded = app::load_profile_file(s_pBob->settings(), forged);
    ASSERT_TRUE(loaded.ok());
    const auto change = app::find_key_change(s_pBob->settings(), loaded->record);
    ASSERT_TRUE(change.has_value()) << "the value a desktop program asks about";
    EXPECT_EQ(change->old_fingerprint, alice_fingerprint);
    EXPECT_EQ(change->new_fingerprint, app::friend_fingerprint(loaded->record));

    const auto refused = app::import_profile(s_pBob->settings(), forged, {});
    EXPECT_EQ(refused.error().code(), app::status_code::conflict);
    EXPECT_NE(refused.error().text().find(change->old_fingerprint), std::string::npos) << refused.error().text();
    EXPECT_NE(refused.error().text().find(change->new_fingerprint), std::string::npos);
    EXPECT_EQ(app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice")), alice_fingerprint);

    const auto replaced = app::import_profile(s_pBob->settings(), forged, {}, app::key_consent::replace_keys);
    ASSERT_TRUE(replaced.ok()) << replaced.error().text();
    ASSERT_TRUE(replaced->keys_replaced.has_value());
    EXPECT_EQ(app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice")), change->new_fingerprint);

    // The file from before the change is just another change now.
    EXPECT_EQ(app::import_profile(s_pBob->settings(), original, {}).error().code(), app::status_code::conflict);
    EXPECT_EQ(app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice")), change->new_fingerprint);
}

TEST_F(ProfileService, AFileWithoutASignatureKeyNeitherUnpinsNorRekeysAPinnedFriend) {
    ASSERT_TRUE(app::import_profile(s_pBob->settings(), alice_file(), {}).ok());
    const std::string pinned_fingerprint = app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice"));
    const auto legacy = app::import_profile(
        s_pBob->settings(), alice_file("legacy", [](std::string& t) { t = without_signature_key(t); }), {});
    ASSERT_TRUE(legacy.ok()) << legacy.error().text();
    EXPECT_FALSE(legacy->keys_replaced.has_value());
    EXPECT_TRUE(legacy->pinned);
    ASSERT_EQ(legacy->warnings.size(), 2U);
    EXPECT_EQ(legacy->warnings[0], "The profile name <Alice> is already in the database. It has been overwritten.");
    EXPECT_NE(legacy->warnings[1].find("stays pinned"), std::string::npos);
    EXPECT_EQ(app::friend_fingerprint(legacy->record), pinned_fingerprint) << "what is shown is what authenticates";
    EXPECT_EQ(app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice")), pinned_fingerprint);

    std::string mallory_key;
    ASSERT_NE(s_pMallory->provider().exchange_key_text(0, mallory_key), 0U);
    const std::string other_key = alice_file("other", [&](std::string& t) {
        t = without_signature_key(t);
        set_line(t, "AKEY: ", mallory_key);
    });
    const auto rekeyed = app::import_profile(s_pBob->settings(), other_key, {}, app::key_consent::replace_keys);
    EXPECT_EQ(rekeyed.error().code(), app::status_code::conflict) << "even with consent";
    EXPECT_EQ(app::friend_fingerprint(*app::read_friend(s_pBob->settings(), "Alice")), pinned_fingerprint);
}

TEST_F(ProfileService, ReimportKeepsTheReceiptSettingsTheCommandDoesNotChange) {
    app::friend_policy chosen;
    chosen.accept = true;
    chosen.max_size = app::unlimited;
    chosen.max_count = 100;
    chosen.types = 0x200;
    ASSERT_TRUE(app::import_profile(s_pBob->settings(), alice_file(), chosen).ok());
    app::friend_policy fewer;
    fewer.max_count = 10;
    ASSERT_TRUE(app::import_profile(s_pBob->settings(), alice_file(), fewer).ok());

    const auto alice = app::read_friend(s_pBob->settings(), "Alice");
    ASSERT_TRUE(alice.ok());
    EXPECT_TRUE(alice->receipt_enabled);
    EXPECT_EQ(alice->max_file_size, app::unlimited);
    EXPECT_EQ(alice->max_file_count, 10U);
    EXPECT_EQ(alice->key_types, 0x200U);
    const auto listed = app::list_friends(s_pBob->settings());
    ASSERT_TRUE(listed.ok());
    ASSERT_EQ(listed->size(), 1U);
    EXPECT_TRUE(listed->front().receipt_enabled);
    EXPECT_EQ(listed->front().max_file_count, 10U);
    EXPECT_EQ(listed->front().key_types, 0x200U);
}

TEST_F(ProfileService, ProfileNamesAreFilteredWithANoteAndBlankOnesRefused) {
    const auto tamed = app::load_profile_file(s_pBob->settings(), alice_file("escape", [](std::string& t) {
                                                  replace(t, "NAME: Alice",
                                                          "NAME: \x1B]0;owned\x07"
                                                          "Al\xE2\x80\xAEice");
                                              }));
    ASSERT_TRUE(tamed.ok()) << tamed.error().text();
    EXPECT_EQ(tamed->record.name, "0ownedAlice");
    ASSERT_EQ(tamed->warnings.size(), 1U);
    EXPECT_NE(tamed->warnings[0].find("\"\\x1B]0;owned\\x07Al\\xE2\\x80\\xAEice\" in the profile file became "
                                      "\"0ownedAlice\""),
              std::string::npos)
        << tamed->warnings[0];
    EXPECT_TRUE(app::load_profile_file(s_pBob->settings(), alice_file())->warnings.empty());

    for (const char* blank : {"NAME: \x01\x02\x1B", "NAME:    ", "NAME: - _"}) {
        const auto refused = app::load_profile_file(
            s_pBob->settings(), alice_file("blank", [&](std::string& t) { replace(t, "NAME: Alice", blank); }));
        EXPECT_EQ(refused.error().code(), app::status_code::invalid) << blank;
    }
    // A record edited by hand is saved under the same rules.
    app::friend_record edited = tamed->record;
    edited.name = "Al\tice";
    EXPECT_EQ(app::store_friend(s_pBob->settings(), edited).error().code(), app::status_code::invalid);
    EXPECT_TRUE(list_profiles(s_pBob->settings()).empty());
}

// What a front end holds of a stored friend goes back as it came, key data that disagree with their counts too, so
// a damaged friend edited in a form stays the same damaged friend; what is set there is cut as a profile holds it.
TEST_F(ProfileService, AFriendRecordGoesBackAsTheProfileItCameFrom) {
    friend_profile damaged = s_pAlice->as_friend(0x240, true);
    copy_text_field(damaged.receipt_directory, "Elsewhere");
    damaged.key_bytes += 7;
    damaged.receipt_enabled = 0;
    const friend_profile again = app::profile_of(app::record_of(damaged));
    EXPECT_STREQ(again.name, damaged.name);
    EXPECT_STREQ(again.receipt_directory, "Elsewhere");
    EXPECT_EQ(again.receipt_enabled, 0);
    EXPECT_EQ(again.encryption_methods, 0x240U);
    ASSERT_EQ(again.key.size, damaged.key.size);
    EXPECT_TRUE(std::equal(again.key.data, again.key.data + again.key.size, damaged.key.data));
    EXPECT_EQ(again.key_bytes, damaged.key_bytes);
    EXPECT_EQ(again.signature_key, damaged.signature_key);

    app::friend_record typed;
    app::set_friend_name(typed, std::string(70, 'a') + "-b");
    app::friend_policy longer;
    longer.address = std::string(40, 'h');
    app::apply_friend_policy(longer, typed);
    EXPECT_EQ(typed.name, std::string(app::friend_limits.name, 'a'));
    EXPECT_EQ(typed.address.size(), app::friend_limits.address);
    EXPECT_STREQ(app::profile_of(typed).address, typed.address.c_str());
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
        {"ADDR: line is refused: the address 'alice\\x1b]0;owned\\x07' holds control",
         [](std::string& t) { set_line(t, "ADDR: ", "alice\x1b]0;owned\x07"); }},
        {"'moc.\\u202eelpmaxe' holds control or bidirectional",
         [](std::string& t) { set_line(t, "ADDR: ", "moc.\u202eelpmaxe"); }},
        {"longer than 31 characters",
         [](std::string& t) {
             set_line(t, "ADDR: ",
                      "alice.with-a-long-name.example"
                      ".net");
         }},
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

TEST_F(ProfileService, ExportNeverOverwritesWithoutBeingToldAndRefusesADirectory) {
    const std::string file = alice_file();
    std::FILE* kept = std::fopen(file.c_str(), "w");
    std::fputs("NAME: someone else\r\n", kept);
    std::fclose(kept);
    const auto refused = app::export_profile(s_pAlice->settings(), s_pAlice->provider(), file);
    EXPECT_EQ(refused.error().code(), app::status_code::conflict);
    std::string text;
    ASSERT_EQ(read_regular_file(file, profile_file_limit, text), file_read::ok);
    EXPECT_EQ(text, "NAME: someone else\r\n");
    EXPECT_TRUE(app::export_profile(s_pAlice->settings(), s_pAlice->provider(), file, true).ok());

    const std::string directory = m_oFiles.path() + "/box.prf";
    std::filesystem::create_directory(directory);
    EXPECT_EQ(app::export_profile(s_pAlice->settings(), s_pAlice->provider(), directory, true).error().code(),
              app::status_code::invalid);
    EXPECT_EQ(app::export_profile(s_pAlice->settings(), s_pAlice->provider(), m_oFiles.path(), true).error().code(),
              app::status_code::invalid);
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

    const auto own = app::import_profile(
        s_pAlice->settings(), alice_file("self", [](std::string& t) { replace(t, "NAME: Alice", "NAME: Twin"); }), {});
    EXPECT_EQ(own.error().code(), app::status_code::conflict);
    EXPECT_EQ(own.error().text(), "the UUID " + s_pAlice->uuid() +
                                      " is this user's own ('Alice'), not a friend's; "
                                      "nothing was saved.");
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
    EXPECT_FALSE(alice->receipt_enabled);
    EXPECT_EQ(alice->address, "10.1.2.3");
    EXPECT_EQ(alice->port, 21000);
    EXPECT_EQ(app::edit_friend(s_pBob->settings(), "Nobody", policy).code(), app::status_code::not_found);
    policy.address = "10.1.2.4\x1b[2J";
    EXPECT_EQ(app::edit_friend(s_pBob->settings(), "Alice", policy).text(),
              "the address '10.1.2.4\\x1b[2J' holds control or bidirectional characters.");
    EXPECT_EQ(app::read_friend(s_pBob->settings(), "Alice")->address, "10.1.2.3");

    ASSERT_TRUE(app::delete_friend(s_pBob->settings(), "Alice").ok());
    EXPECT_EQ(app::delete_friend(s_pBob->settings(), "Alice").text(), "Failed to delete profile.");
    EXPECT_EQ(app::read_friend(s_pBob->settings(), "Alice").error().code(), app::status_code::not_found);
}

} // namespace
} // namespace tiv
