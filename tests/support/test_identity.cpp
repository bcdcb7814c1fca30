#include "support/test_identity.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <stdlib.h>

#include "app/internal/key_service.h"
#include "app/internal/settings/first_run.h"
#include "core/text.h"
#include "settings/identity.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"

namespace tiv::test {

test_identity::test_identity(const std::string& name, unsigned key_bits) : m_strName(name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-identity-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create an identity directory");
    }
    m_strHome = pattern;
    const char* previous = std::getenv("QUORVEL_HOME");
    const std::string saved = previous != nullptr ? previous : "";
    const char* previous_machine = std::getenv("QUORVEL_MACHINE_DB");
    const std::string saved_machine = previous_machine != nullptr ? previous_machine : "";
    ::setenv("QUORVEL_HOME", m_strHome.c_str(), 1);
    ::unsetenv("QUORVEL_MACHINE_DB");
    m_pSettings = std::make_unique<qvl_settings_data>();
    if (previous != nullptr) {
        ::setenv("QUORVEL_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("QUORVEL_HOME");
    }
    if (previous_machine != nullptr) {
        ::setenv("QUORVEL_MACHINE_DB", saved_machine.c_str(), 1);
    }
    set_machine_defaults(*m_pSettings);
    // A test user never announces itself on the LAN the tests run on; the LAN tests turn it on in their namespaces.
    (void)write_dword_setting(m_pSettings->machine_key(), names::lan_announce, 0);
    set_user_defaults(*m_pSettings);
    m_pSettings->load_settings();
    m_pProvider = std::make_unique<crypto_provider>(m_strHome + "/keys", key_bits);
    if (!app::make_first_keys(*m_pSettings, *m_pProvider, key_bits)) {
        throw std::runtime_error("the test identity's keys could not be made");
    }
}

test_identity::~test_identity() {
    m_pProgram.reset();
    m_pProvider.reset();
    m_pSettings.reset();
    remove_tree(m_strHome);
}

app::program& test_identity::program() {
    if (!m_pProgram) {
        m_pProgram = std::make_unique<app::program>(environment(), m_oAnswers);
    }
    return *m_pProgram;
}

friend_profile test_identity::as_friend(std::uint32_t allowed_types, bool pinned) const {
    friend_profile profile;
    copy_text_field(profile.name, m_strName);
    copy_text_field(profile.uuid, m_pSettings->text(text_setting::user_uuid));
    copy_text_field(profile.receipt_directory, compact_name(m_strName));
    copy_text_field(profile.address, "127.0.0.1");
    profile.port = 0;
    profile.receipt_enabled = 1;
    profile.max_file_size = unlimited;
    profile.max_file_count = unlimited;
    profile.encryption_methods = allowed_types;
    const std::vector<std::uint8_t> blob = m_pProvider->exchange_key_blob();
    profile.key.Assign(blob.data(), static_cast<std::int32_t>(blob.size()));
    profile.key_bytes = static_cast<std::int32_t>(blob.size());
    profile.key_bits = static_cast<std::int32_t>(m_pProvider->exchange_key()->bits());
    if (pinned) {
        profile.signature_key = m_pProvider->signature_key_blob();
    }
    return profile;
}

void test_identity::befriend(const test_identity& other, std::uint32_t allowed_types, bool pinned) {
    if (!save_profile(*m_pSettings, other.as_friend(allowed_types, pinned))) {
        throw std::runtime_error("cannot store a test friend");
    }
}

} // namespace tiv::test
