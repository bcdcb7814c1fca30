#pragma once

#include <memory>
#include <string>

#include "app/internal/program_parts.h"
#include "crypto/crypto_provider.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"
#include "support/scripted_questions.h"

namespace tiv::test {

// One user with settings, keys and friends of their own, living in a private directory. Several can exist in
// one test process: each settings object keeps the hives it opened at construction.
class test_identity {
public:
    test_identity(const std::string& name, unsigned key_bits = 1024);
    test_identity(const test_identity&) = delete;
    test_identity& operator=(const test_identity&) = delete;
    ~test_identity();

    [[nodiscard]] const std::string& home() const { return m_strHome; }
    [[nodiscard]] std::string uuid() const { return m_pSettings->text(text_setting::user_uuid); }
    qvl_settings_data& settings() { return *m_pSettings; }
    crypto_provider& provider() { return *m_pProvider; }
    // This user's settings and keys, for a program of a test's own making.
    app::program_environment environment() { return {*m_pSettings, *m_pProvider}; }
    // A program on this user's settings and keys, made at the first call and kept while the user lives. A question
    // it asks fails the test: nobody scripted one.
    app::program& program();

    // A profile of this user as a friend would store it; `pinned` adds the signature key.
    [[nodiscard]] friend_profile as_friend(std::uint32_t allowed_types = 0xE40, bool pinned = false) const;
    // Stores `other` as a friend of this user.
    void befriend(const test_identity& other, std::uint32_t allowed_types = 0xE40, bool pinned = false);

private:
    std::string m_strName;
    std::string m_strHome;
    std::unique_ptr<qvl_settings_data> m_pSettings;
    std::unique_ptr<crypto_provider> m_pProvider;
    scripted_questions m_oAnswers; // the program's, which nobody scripts
    std::unique_ptr<app::program> m_pProgram;
};

} // namespace tiv::test
