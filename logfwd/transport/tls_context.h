// SPDX-License-Identifier: Apache-2.0
// tls_context.h: the credentials of syslog over TLS (RFC 5425): the
// authorities the server's certificate must chain to, and the client's own
// certificate, checked once when the run starts. OpenSSL's context is held
// opaquely: only the TLS sources include OpenSSL's headers.
#pragma once

#include <memory>
#include <string>

#include "transport_settings.h"

struct ssl_ctx_st;  // OpenSSL's SSL_CTX
struct tls_context_releaser {
    void operator()(ssl_ctx_st* context) const;
};
using tls_context = std::unique_ptr<ssl_ctx_st, tls_context_releaser>;

// A client context for TLS 1.2 or newer that verifies the server against
// ca_file (or the system's store) and offers the client certificate when one
// is set. On failure: empty, and error names the file and what is wrong with
// it ("KEY PATH: REASON", "cert_file without key_file", a key readable by others).
tls_context make_tls_context(const tls_settings& settings, std::string& error);

// The readable reason of the oldest error in OpenSSL's queue, the most
// specific one, with the detail OpenSSL adds to it (fallback when the queue is
// empty); clears the queue.
std::string openssl_reason(const char* fallback);
