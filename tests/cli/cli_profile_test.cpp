#include <gtest/gtest.h>

#include "core/text.h"
#include "settings/profile_file.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::run_cli;

std::string line_after(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t start = at + label.size();
    return text.substr(start, text.find('\n', start) - start);
}

class CliProfiles : public test::home_test {};

TEST_F(CliProfiles, ExportImportBetweenTwoUsers) {
    ASSERT_EQ(run_cli({"init", "--name", "Alice Smith", "--port", "20555", "--key-bits", "1024"}).code, 0);
    const std::string alice_whoami = run_cli({"whoami"}).out;
    const std::string alice_fingerprint = line_after(alice_whoami, "Fingerprint:     ");
    ASSERT_FALSE(alice_fingerprint.empty());
    const std::string file = m_oHome.path() + "/alice";
    const auto exported = run_cli({"export-profile", file});
    ASSERT_EQ(exported.code, 0) << exported.err;
    std::string text;
    ASSERT_EQ(read_regular_file(file + ".prf", profile_file_limit, text), file_read::ok);
    EXPECT_EQ(text.rfind("NAME: Alice Smith\r\nUUID: ", 0), 0U);
    EXPECT_NE(text.find("\r\nPORT: 20555\r\nAKEY: 0602000000A40000525341310004"), std::string::npos);
    EXPECT_NE(text.find("\r\nSKEY: 0602000000240000525341310004"), std::string::npos) << "the signature key pins";

    test::temp_home bob_home;
    ASSERT_EQ(run_cli({"init", "--name", "Bob", "--key-bits", "1024"}).code, 0);
    const auto imported = run_cli({"import-profile", file + ".prf"});
    ASSERT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(line_after(imported.out, "Fingerprint: "), alice_fingerprint) << "the key arrived unchanged";
    EXPECT_EQ(line_after(imported.out, "Covers:      "), line_after(alice_whoami, "Covers:          "));

    const auto again = run_cli({"import-profile", file + ".prf", "--accept", "--max-size", "unlimited", "--max-count",
                                "50", "--types", "0x200"});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.err.find("The profile name <Alice Smith> is already in the database."), std::string::npos);
    EXPECT_NE(run_cli({"friends"})
                  .out.find("1024-bit key " + alice_fingerprint +
                            " (pinned: exchange and signature keys)  accepts parcels (files of any "
                            "size, at most 50 files, key types 0x200)"),
              std::string::npos);

    ASSERT_EQ(run_cli({"friend-set", "Alice Smith", "--refuse", "--address", "10.1.2.3", "--port", "21000"}).code, 0);
    EXPECT_NE(run_cli({"friends"}).out.find("Alice Smith  10.1.2.3:21000  "), std::string::npos);
    EXPECT_EQ(run_cli({"friend-set", "Nobody", "--accept"}).code, 1);
    EXPECT_EQ(run_cli({"friend-set", "Alice Smith", "--accept", "--refuse"}).code, 2);
    EXPECT_EQ(run_cli({"friend-set", "Alice Smith", "--types", "0x1000"}).code, 2);
    EXPECT_EQ(run_cli({"friend-set", "Alice Smith", "--max-size", "lots"}).code, 2);

    ASSERT_EQ(run_cli({"friend-delete", "Alice Smith"}).code, 0);
    const auto gone = run_cli({"friend-delete", "Alice Smith"});
    EXPECT_EQ(gone.code, 1);
    EXPECT_NE(gone.err.find("there is no friend named 'Alice Smith'"), std::string::npos) << gone.err;
}

TEST_F(CliProfiles, AnIPv6AddressTravelsWithoutBracketsAndIsShownWithThem) {
    ASSERT_EQ(run_cli({"init", "--name", "Alice", "--address", "::1", "--port", "20556", "--key-bits", "1024"}).code,
              0);
    const std::string file = m_oHome.path() + "/alice";
    ASSERT_EQ(run_cli({"export-profile", file}).code, 0);
    std::string text;
    ASSERT_EQ(read_regular_file(file + ".prf", profile_file_limit, text), file_read::ok);
    EXPECT_NE(text.find("\r\nADDR: ::1\r\nPORT: 20556\r\n"), std::string::npos) << text;

    test::temp_home bob_home;
    ASSERT_EQ(run_cli({"init", "--name", "Bob", "--key-bits", "1024"}).code, 0);
    ASSERT_EQ(run_cli({"import-profile", file + ".prf"}).code, 0);
    EXPECT_NE(run_cli({"friends"}).out.find("Alice  [::1]:20556  "), std::string::npos);
}

TEST_F(CliProfiles, ChangedKeysNeedReplaceKeysAndExportsNeedForce) {
    ASSERT_EQ(run_cli({"init", "--name", "Alice", "--key-bits", "1024"}).code, 0);
    const std::string file = m_oHome.path() + "/alice.prf";
    ASSERT_EQ(run_cli({"export-profile", file}).code, 0);
    const auto kept = run_cli({"export-profile", file});
    EXPECT_EQ(kept.code, 1);
    EXPECT_NE(kept.err.find("already exists and was left as it is. Give --force to replace it."), std::string::npos);

    test::temp_home bob_home;
    ASSERT_EQ(run_cli({"init", "--name", "Bob", "--key-bits", "1024"}).code, 0);
    const std::string old_fingerprint = line_after(run_cli({"import-profile", file}).out, "Fingerprint: ");
    {
        test::temp_home alice_again; // Alice's keys made anew, under her name and UUID
        ASSERT_EQ(run_cli({"init", "--name", "Alice", "--key-bits", "1024"}).code, 0);
        std::string text;
        ASSERT_EQ(read_regular_file(file, profile_file_limit, text), file_read::ok);
        const std::string uuid_line = text.substr(text.find("UUID: "), 42);
        ASSERT_EQ(run_cli({"export-profile", m_oHome.path() + "/new.prf"}).code, 0);
        ASSERT_EQ(read_regular_file(m_oHome.path() + "/new.prf", profile_file_limit, text), file_read::ok);
        text.replace(text.find("UUID: "), 42, uuid_line);
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    const auto refused = run_cli({"import-profile", file});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("Old fingerprint: " + old_fingerprint + " (pinned: exchange and signature keys)"),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("import again with --replace-keys"), std::string::npos);
    const auto replaced = run_cli({"import-profile", file, "--replace-keys"});
    ASSERT_EQ(replaced.code, 0) << replaced.err;
    EXPECT_EQ(replaced.out.rfind("Replaced the keys of Alice\nOld fingerprint: " + old_fingerprint, 0), 0U);
    EXPECT_NE(line_after(replaced.out, "Fingerprint: "), old_fingerprint);
}

TEST_F(CliProfiles, ImportFailuresSayWhyAndUsageErrorsExitTwo) {
    ASSERT_EQ(run_cli({"init", "--key-bits", "1024"}).code, 0);
    const std::string file = m_oHome.path() + "/nokey.prf";
    std::FILE* f = std::fopen(file.c_str(), "w");
    std::fputs("NAME: Eve\nUUID: 00112233-4455-6677-8899-aabbccddeeff\n", f);
    std::fclose(f);
    const auto refused = run_cli({"import-profile", file});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "quorvel-cli: the profile file holds no valid public key; nothing was saved.\n");
    EXPECT_EQ(run_cli({"import-profile", m_oHome.path() + "/missing.prf"}).code, 1);
    EXPECT_EQ(run_cli({"import-profile"}).code, 2);
    EXPECT_EQ(run_cli({"import-profile", file, "--types", "0"}).code, 2);
}

TEST_F(CliProfiles, RekeyReplacesBothPairsAndWarns) {
    ASSERT_EQ(run_cli({"init", "--key-bits", "1024"}).code, 0);
    const std::string before = line_after(run_cli({"whoami"}).out, "Fingerprint:     ");
    const auto rekeyed = run_cli({"rekey", "--bits", "1024", "--yes"});
    ASSERT_EQ(rekeyed.code, 0) << rekeyed.err;
    EXPECT_NE(rekeyed.err.find("Be very sure about this."), std::string::npos);
    EXPECT_NE(rekeyed.err.find("WHOA! Hold on there...."), std::string::npos);
    EXPECT_NE(rekeyed.out.find("Signature Key of 1024 bits required "), std::string::npos);
    EXPECT_NE(rekeyed.out.find("Key Exchange Key of 1024 bits required "), std::string::npos);
    const std::string after = line_after(run_cli({"whoami"}).out, "Fingerprint:     ");
    EXPECT_FALSE(after.empty());
    EXPECT_NE(after, before);
    EXPECT_EQ(run_cli({"rekey", "--bits", "1000"}).code, 2);
    EXPECT_EQ(run_cli({"rekey", "--bits", "16640"}).code, 2);
}

} // namespace
} // namespace tiv
