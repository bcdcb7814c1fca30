#include "settings/identity.h"

#include <cstdint>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "platform/uuid.h"

namespace tiv {

std::string login_name() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        return found->pw_name;
    }
    if (const char* user = std::getenv("USER"); user != nullptr && user[0] != '\0') {
        return user;
    }
    return "user";
}

std::string create_uuid_text() {
    return uuid_to_text(make_uuid());
}

} // namespace tiv
