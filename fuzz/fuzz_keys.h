#pragma once

namespace tiv::fuzz {

// The fuzzing identity's own key-exchange pair and that of the friend it has on file (PKCS#8 PEM).
extern const char* const own_exchange_pem;
extern const char* const friend_exchange_pem;

} // namespace tiv::fuzz
