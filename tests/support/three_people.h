#pragma once

#include <gtest/gtest.h>

#include "support/test_identity.h"

namespace tiv::test {

// Alice, Bob and Mallory, made once per test suite (making RSA pairs is the slow part). Every test starts with
// nobody knowing anybody and the old exchange allowed; each states the friendships it needs.
class three_people_test : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static test_identity* s_pAlice;
    static test_identity* s_pBob;
    static test_identity* s_pMallory;
};

} // namespace tiv::test
