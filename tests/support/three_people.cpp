#include "support/three_people.h"

#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::test {

test_identity* three_people_test::s_pAlice = nullptr;
test_identity* three_people_test::s_pBob = nullptr;
test_identity* three_people_test::s_pMallory = nullptr;

void three_people_test::SetUpTestSuite() {
    s_pAlice = new test_identity("Alice");
    s_pBob = new test_identity("Bob");
    s_pMallory = new test_identity("Mallory");
}

void three_people_test::TearDownTestSuite() {
    delete s_pAlice;
    delete s_pBob;
    delete s_pMallory;
    s_pAlice = s_pBob = s_pMallory = nullptr;
}

void three_people_test::SetUp() {
    for (test_identity* person : {s_pAlice, s_pBob, s_pMallory}) {
        for (const std::string& name : list_profiles(person->settings())) {
            ASSERT_TRUE(delete_profile(person->settings(), name));
        }
        ASSERT_TRUE(write_dword_setting(person->settings().machine_key(), names::legacy_exchange, 1));
    }
}

} // namespace tiv::test
