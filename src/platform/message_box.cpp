#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace tiv {

namespace {
std::mutex hook_lock;
message_box_hook installed_hook;

int default_message_box(const std::string& text, const std::string& caption, unsigned /*style*/) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
}
} // namespace

message_box_hook set_message_box_hook(message_box_hook hook) {
    std::lock_guard guard(hook_lock);
    message_box_hook previous = std::move(installed_hook);
    installed_hook = std::move(hook);
    return previous;
}

int show_message_box(const std::string& text, const std::string& caption, unsigned style) {
    message_box_hook hook;
    {
        std::lock_guard guard(hook_lock);
        hook = installed_hook;
    }
    return hook ? hook(text, caption, style) : default_message_box(text, caption, style);
}

} // namespace tiv
