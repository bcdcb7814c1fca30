#include "crypto/tls_wire.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <openssl/bio.h>

namespace tiv {

namespace {

struct method_deleter {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

std::unique_ptr<BIO_METHOD, method_deleter> make_method(int (*read)(BIO*, char*, std::size_t, std::size_t*),
                                                        int (*write)(BIO*, const char*, std::size_t, std::size_t*),
                                                        long (*control)(BIO*, int, long, void*)) {
    std::unique_ptr<BIO_METHOD, method_deleter> method(
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quorvel wire"));
    if (method != nullptr &&
        (BIO_meth_set_read_ex(method.get(), read) != 1 || BIO_meth_set_write_ex(method.get(), write) != 1 ||
         BIO_meth_set_ctrl(method.get(), control) != 1)) {
        method.reset();
    }
    return method;
}

} // namespace

tls_wire::tls_wire() {
    static const std::unique_ptr<BIO_METHOD, method_deleter> method = make_method(read, write, control);
    m_pBio = method != nullptr ? BIO_new(method.get()) : nullptr;
    if (m_pBio != nullptr) {
        BIO_set_data(m_pBio, this);
        BIO_set_init(m_pBio, 1);
    }
}

tls_wire::~tls_wire() {
    if (m_pBio != nullptr) {
        // The engine may outlive us by a moment; it finds a closed wire, not freed memory.
        BIO_set_data(m_pBio, nullptr);
        BIO_free(m_pBio);
    }
}

bio_st* tls_wire::give_bio() {
    return m_pBio != nullptr && BIO_up_ref(m_pBio) == 1 ? m_pBio : nullptr;
}

tls_wire::loan::loan(tls_wire& wire, std::span<const std::uint8_t> bytes) : m_oWire(wire) {
    m_oWire.m_oLent = bytes;
}

tls_wire::loan::~loan() {
    const std::span<const std::uint8_t> unread = m_oWire.m_oLent;
    m_oWire.m_oLent = {};
    m_oWire.queue(unread);
}

void tls_wire::queue(std::span<const std::uint8_t> bytes) {
    m_aQueued.insert(m_aQueued.end(), bytes.begin(), bytes.end());
}

void tls_wire::take_output(std::vector<std::uint8_t>& wire) {
    if (wire.empty()) {
        wire.swap(m_aOutput);
    } else {
        wire.insert(wire.end(), m_aOutput.begin(), m_aOutput.end());
    }
    m_aOutput.clear();
}

int tls_wire::read(BIO* bio, char* out, std::size_t size, std::size_t* got) {
    BIO_clear_retry_flags(bio);
    auto* self = static_cast<tls_wire*>(BIO_get_data(bio));
    *got = 0;
    if (self == nullptr) {
        return 0;
    }
    if (self->m_nQueuedAt < self->m_aQueued.size()) {
        *got = std::min(size, self->m_aQueued.size() - self->m_nQueuedAt);
        std::memcpy(out, self->m_aQueued.data() + self->m_nQueuedAt, *got);
        self->m_nQueuedAt += *got;
        if (self->m_nQueuedAt == self->m_aQueued.size()) {
            self->m_aQueued.clear();
            self->m_nQueuedAt = 0;
        }
    }
    const std::size_t lent = std::min(size - *got, self->m_oLent.size());
    if (lent > 0) {
        std::memcpy(out + *got, self->m_oLent.data(), lent);
        self->m_oLent = self->m_oLent.subspan(lent);
        *got += lent;
    }
    if (*got == 0) {
        // Not the end of the connection: more may be lent later.
        BIO_set_retry_read(bio);
        return 0;
    }
    return 1;
}

int tls_wire::write(BIO* bio, const char* in, std::size_t size, std::size_t* written) {
    BIO_clear_retry_flags(bio);
    auto* self = static_cast<tls_wire*>(BIO_get_data(bio));
    *written = 0;
    if (self == nullptr) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(in);
    self->m_aOutput.insert(self->m_aOutput.end(), bytes, bytes + size);
    *written = size;
    return 1;
}

long tls_wire::control(BIO* bio, int command, long /*number*/, void* /*pointer*/) {
    const auto* self = static_cast<const tls_wire*>(BIO_get_data(bio));
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_PENDING:
        return self != nullptr ? static_cast<long>(self->readable()) : 0;
    case BIO_CTRL_WPENDING:
        return self != nullptr ? static_cast<long>(self->m_aOutput.size()) : 0;
    default:
        return 0;
    }
}

} // namespace tiv
