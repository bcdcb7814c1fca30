#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "core/text.h"
#include "settings/profile_file.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

const std::string key_1024 = [] {
    std::string hex = "0602000000A40000525341310004000001000100";
    hex += std::string(256, 'C');
    return hex;
}();

TEST(ProfileFile, ExportNameGetsPrfUnlessItContainsIt) {
    EXPECT_EQ(profile_file_name("alice"), "alice.prf");
    EXPECT_EQ(profile_file_name("alice.prf"), "alice.prf");
    EXPECT_EQ(profile_file_name("alice.prf.txt"), "alice.prf.txt");
}

TEST(ProfileFile, ExportWritesFiveCrLfLines) {
    test::temp_home home;
    const std::string path = home.path() + "/bob.prf";
    ASSERT_TRUE(write_profile_file(path, "Bob Smith", "00112233-4455-6677-8899-aabbccddeeff", "bob.example.org", 20000,
                                   key_1024));
    std::string text;
    ASSERT_EQ(read_regular_file(path, profile_file_limit, text), file_read::ok);
    EXPECT_EQ(text, "NAME: Bob Smith\r\nUUID: 00112233-4455-6677-8899-aabbccddeeff\r\nADDR: bob.example.org\r\n"
                    "PORT: 20000\r\nAKEY: " +
                        key_1024 + "\r\n");
    EXPECT_FALSE(write_profile_file(home.path() + "/missing/dir/x.prf", "a", "b", "c", 1, "d"));

    // Told not to replace, a file already there is kept, and no temporary file is left beside it.
    EXPECT_FALSE(write_profile_file(path, "Eve", "u", "a", 1, key_1024, {}, false));
    std::string kept;
    ASSERT_EQ(read_regular_file(path, profile_file_limit, kept), file_read::ok);
    EXPECT_EQ(kept, text);
    ASSERT_TRUE(write_profile_file(home.path() + "/new.prf", "Eve", "u", "a", 1, key_1024, {}, false));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 2);
}

TEST(ProfileFile, ReaderRules) {
    const auto fields = parse_profile_text("# comment\nNAME:Bob\nname: Eve\nPORT: 20001x\nADDR: host\r\n"
                                           "UUID: first\nUUID: second\nAKEY:\n");
    EXPECT_EQ(fields.name, "ob") << "the character after the colon is skipped whatever it is";
    EXPECT_EQ(fields.port, 20001U);
    EXPECT_EQ(fields.address, "host");
    EXPECT_EQ(fields.uuid, "second") << "a later key wins";
    EXPECT_EQ(fields.key_text, "") << "a key line of six characters or fewer gives the empty value";

    const auto bad_port = parse_profile_text("PORT: x20\n");
    EXPECT_FALSE(bad_port.port.has_value());
    const auto unterminated = parse_profile_text("NAME: Last");
    EXPECT_EQ(unterminated.name, "Last") << "a final line without a line end still counts";
}

TEST(ProfileFile, LfAndCrLfImportAlike) {
    const std::string crlf = "NAME: Bob\r\nUUID: u\r\nADDR: a\r\nPORT: 1\r\nAKEY: " + key_1024 + "\r\n";
    std::string lf = crlf;
    for (std::size_t at; (at = lf.find('\r')) != std::string::npos;) {
        lf.erase(at, 1);
    }
    const auto a = parse_profile_text(crlf);
    const auto b = parse_profile_text(lf);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.key_text, b.key_text);
    EXPECT_EQ(a.port, b.port);
}

TEST(ProfileFile, ALineOfAnyLengthIsReadWhole) {
    const std::string value(profile_file_limit - 16, 'h');
    const auto fields = parse_profile_text("ADDR: " + value + "\r\nPORT: 7\r\n");
    EXPECT_EQ(fields.address, value);
    EXPECT_EQ(fields.port, 7U) << "the line after a long one is still a line of its own";
}

TEST(ProfileFile, ImportPresetsAndDecodesTheKey) {
    profile_file_fields fields = parse_profile_text("NAME: Bob/Smith!\nPORT: 20000\nAKEY: " + key_1024 + "\n");
    friend_profile profile = profile_from_file(fields, 0xE40);
    EXPECT_STREQ(profile.name, "BobSmith");
    EXPECT_STREQ(profile.receipt_directory, "BobSmith");
    EXPECT_EQ(profile.encryption_methods, 0xE40U);
    EXPECT_EQ(profile.max_file_size, 10240U);
    EXPECT_EQ(profile.max_file_count, 10U);
    EXPECT_EQ(profile.receipt_enabled, 0);
    EXPECT_EQ(profile.key_bytes, 148);
    EXPECT_EQ(profile.key_bits, 1024);

    std::string lower = key_1024;
    for (char& c : lower) {
        c = static_cast<char>(tolower(c));
    }
    const friend_profile from_lower = profile_from_file(parse_profile_text("AKEY: " + lower + "\n"), 0);
    ASSERT_EQ(from_lower.key.size, profile.key.size);
    EXPECT_EQ(std::memcmp(from_lower.key.data, profile.key.data, 148), 0);

    const friend_profile short_key = profile_from_file(parse_profile_text("AKEY: 0602000000A4\n"), 0);
    EXPECT_EQ(short_key.key_bytes, 6);
    EXPECT_EQ(short_key.key_bits, 0) << "no bit length is read past the decoded bytes";

    const friend_profile no_name = profile_from_file(parse_profile_text("UUID: x\n"), 0);
    EXPECT_STREQ(no_name.name, "");
}

} // namespace
} // namespace tiv

namespace tiv {
namespace {

TEST(ProfileFile, SignatureKeyLineRoundTripsAndPins) {
    test::temp_home home;
    const std::string path = home.path() + "/pinned.prf";
    ASSERT_TRUE(write_profile_file(path, "Bob", "u", "a", 1, key_1024, "0602000000240000"));
    std::string text;
    ASSERT_EQ(read_regular_file(path, profile_file_limit, text), file_read::ok);
    EXPECT_EQ(text.substr(text.size() - 24), "SKEY: 0602000000240000\r\n");
    profile_file_fields fields;
    ASSERT_EQ(read_profile_file(path, fields), file_read::ok);
    const friend_profile pinned = profile_from_file(fields, 0xE40);
    EXPECT_TRUE(pinned.pinned());
    EXPECT_EQ(pinned.signature_key, (std::vector<std::uint8_t>{6, 2, 0, 0, 0, 0x24, 0, 0}));
    EXPECT_FALSE(profile_from_file(parse_profile_text("AKEY: " + key_1024 + "\n"), 0).pinned());
}

} // namespace
} // namespace tiv
