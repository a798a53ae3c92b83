// SPDX-License-Identifier: Apache-2.0
// The TLS client context: TLS 1.2 or newer, the server verified against the
// configured authorities, the client's certificate when one is set. Every
// file is checked before OpenSSL sees it, with a reason a user can act on; a
// private key that its group or others may read is refused, as ssh refuses one.
#include "tls_context.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Called for each TLS 1.3 session ticket: the server has accepted the client.
// The session being set up points its app data at the flag it waits on.
int note_ticket(SSL* ssl, SSL_SESSION*)
{
    if (bool* ticket_received = static_cast<bool*>(SSL_get_app_data(ssl)))
        *ticket_received = true;
    return 0;  // the session is not kept
}

// Empty when path can be opened for reading as a regular file, else why not.
// OpenSSL's own message for a missing file is less plain than strerror's, and
// a FIFO would block it (here O_NONBLOCK keeps the open from waiting).
std::string unreadable_reason(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return strerror(errno);
    struct stat info {};
    const bool got = fstat(fd, &info) == 0;
    close(fd);
    if (got && S_ISDIR(info.st_mode))
        return strerror(EISDIR);
    return got && !S_ISREG(info.st_mode) ? "not a regular file" : "";
}

// "KEY PATH: REASON" for a settings file that OpenSSL cannot use; empty when loaded.
template <typename Loader>
std::string load_file(const char* key, const std::string& path, Loader load)
{
    std::string reason = unreadable_reason(path);
    if (reason.empty() && load(path.c_str()) != 1)
        reason = openssl_reason("cannot be loaded");
    return reason.empty() ? "" : std::string(key) + " " + path + ": " + reason;
}

bool load_trust(SSL_CTX* context, const tls_settings& settings, std::string& error)
{
    if (settings.ca_file.empty()) {
        if (SSL_CTX_set_default_verify_paths(context) == 1)
            return true;
        error = "system certificates: " + openssl_reason("cannot be loaded");
        return false;
    }
    error = load_file("ca_file", settings.ca_file, [context](const char* path) {
        return SSL_CTX_load_verify_locations(context, path, nullptr);
    });
    return error.empty();
}

// "key_file PATH is readable by others (chmod 600)" for a private key that its
// group or others may read, as ssh refuses one; empty otherwise. The mode is
// what counts, also for root, who could read it anyway.
std::string exposed_key_reason(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || (info.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return "";
    return "key_file " + path + " is readable by others (chmod 600)";
}

bool load_client_certificate(SSL_CTX* context, const tls_settings& settings, std::string& error)
{
    if (settings.cert_file.empty() != settings.key_file.empty()) {
        error = settings.cert_file.empty() ? "key_file without cert_file"
                                           : "cert_file without key_file";
        return false;
    }
    if (settings.cert_file.empty())
        return true;
    error = load_file("cert_file", settings.cert_file, [context](const char* path) {
        return SSL_CTX_use_certificate_chain_file(context, path);
    });
    if (error.empty())
        error = exposed_key_reason(settings.key_file);
    if (error.empty())
        error = load_file("key_file", settings.key_file, [context](const char* path) {
            const int loaded = SSL_CTX_use_PrivateKey_file(context, path, SSL_FILETYPE_PEM);
            return loaded == 1 ? SSL_CTX_check_private_key(context) : loaded;
        });
    return error.empty();
}
}  // namespace

void tls_context_releaser::operator()(ssl_ctx_st* context) const
{
    SSL_CTX_free(context);
}

std::string openssl_reason(const char* fallback)
{
    const char* detail = nullptr;
    int detail_flags = 0;
    const unsigned long code = ERR_peek_error_data(&detail, &detail_flags);
    std::string reason = fallback;
    if (code != 0) {
        const char* text = ERR_reason_error_string(code);
        char numbered[256];
        if (!text) {
            ERR_error_string_n(code, numbered, sizeof numbered);
            text = numbered;
        }
        reason = text;
        if ((detail_flags & ERR_TXT_STRING) != 0 && detail && *detail)
            reason += std::string(" (") + detail + ")";
    }
    ERR_clear_error();
    return reason;
}

tls_context make_tls_context(const tls_settings& settings, std::string& error)
{
    tls_context context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        error = openssl_reason("cannot create a TLS context");
        return nullptr;
    }
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // A partial write returns what went out, like write(2) does; a retry may
    // then come from a moved buffer.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
    SSL_CTX_sess_set_new_cb(ctx, note_ticket);
    if (!load_trust(ctx, settings, error) || !load_client_certificate(ctx, settings, error))
        return nullptr;
    return context;
}

