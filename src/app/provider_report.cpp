#include "app/provider_report.h"

#include "crypto/crypto_provider.h"
#include "platform/message_box.h"

namespace tiv {

bool report_provider_state(const crypto_provider& provider) {
    constexpr const char* caption = "Security System Error";
    if (!provider.provider_acquired) {
        show_message_box("Could not access Cryptography Service Provider!\r\nAuthentication and encryption services "
                         "unavailable",
                         caption, MB_OK);
        return false;
    }
    if (provider.ready) {
        return true;
    }
    if (!provider.container_open) {
        show_message_box("Could not open key container!\r\nAuthentication and encryption services unavailable", caption,
                         MB_OK | MB_ICONWARNING);
    } else if (provider.exchange_key() == nullptr) {
        show_message_box("Could not access key-exchange key!\r\nEncryption services unavailable", caption,
                         MB_OK | MB_ICONWARNING);
    } else if (provider.signature_key() == nullptr) {
        show_message_box("Could not access signature key!\r\nAuthentication services unavailable", caption,
                         MB_OK | MB_ICONWARNING);
    }
    return false;
}

} // namespace tiv
