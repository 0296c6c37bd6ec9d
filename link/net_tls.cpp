// TLS to a gateway through OpenSSL 3: the server's certificate chain verified
// against the CA file, its name (or address) against the host asked for.
#include "link/net_socket.h"
#include "link/net_stream.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>  // before OpenSSL's headers, which undo its X509_NAME
#endif

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>

namespace kelvane::link::net {
namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class TlsStream : public Stream {
public:
    TlsStream(std::unique_ptr<Stream> tcp, SocketHandle s, SSL_CTX* ctx, SSL* ssl)
        : tcp_(std::move(tcp)), s_(s), ctx_(ctx), ssl_(ssl) {}
    ~TlsStream() override {
        SSL_shutdown(ssl_);  // one close_notify, not waited for
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
    }

    long receive(std::uint8_t* buf, std::size_t n, int waitMs) override {
        if (SSL_pending(ssl_) == 0 && !waitFor(s_, false, waitMs)) return 0;
        const int got = SSL_read(ssl_, buf, static_cast<int>(n));
        if (got > 0) return got;
        const int e = SSL_get_error(ssl_, got);
        ERR_clear_error();
        return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? 0 : -1;
    }

    bool sendAll(const std::uint8_t* data, std::size_t n, int waitMs) override {
        const std::int64_t end = nowMs() + waitMs;
        std::size_t sent = 0;
        while (sent < n) {
            const int put = SSL_write(ssl_, data + sent, static_cast<int>(n - sent));
            if (put > 0) {
                sent += static_cast<std::size_t>(put);
                continue;
            }
            const int e = SSL_get_error(ssl_, put);
            ERR_clear_error();
            const std::int64_t left = end - nowMs();
            if ((e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) || left <= 0 ||
                !waitFor(s_, e == SSL_ERROR_WANT_WRITE, static_cast<int>(left)))
                return false;
        }
        return true;
    }

private:
    std::unique_ptr<Stream> tcp_;
    SocketHandle s_;
    SSL_CTX* ctx_;
    SSL* ssl_;
};

// The system's trusted roots. OpenSSL's default paths are files under its
// own folder; Windows keeps its roots in the certificate store, copied here
// into the context's store.
bool trustSystemRoots(SSL_CTX* ctx) {
#ifdef _WIN32
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (!store) return false;
    X509_STORE* roots = SSL_CTX_get_cert_store(ctx);
    int added = 0;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c)) {
        const unsigned char* der = c->pbCertEncoded;
        X509* root = d2i_X509(nullptr, &der, static_cast<long>(c->cbCertEncoded));
        if (root && X509_STORE_add_cert(roots, root) == 1) ++added;
        X509_free(root);
    }
    CertCloseStore(store, 0);
    ERR_clear_error();  // a root listed twice
    return added > 0;
#else
    return SSL_CTX_set_default_verify_paths(ctx) == 1;
#endif
}

}  // namespace

bool tlsAvailable() { return true; }

std::unique_ptr<Stream> startTls(std::unique_ptr<Stream> tcp, const std::string& host, const std::string& caFile,
                                 int timeoutMs, OpenFailure& why) {
    why = OpenFailure::NotTrusted;
    auto* owner = dynamic_cast<SocketOwner*>(tcp.get());
    if (!owner) return nullptr;
    const SocketHandle s = owner->socket();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return nullptr;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    const bool trusted =
        caFile.empty() ? trustSystemRoots(ctx) : SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) == 1;
    SSL* ssl = trusted ? SSL_new(ctx) : nullptr;
    // SSL_set1_host takes an address as an address (checked against the
    // certificate's IP entries) and a name as a name; SNI only for a name.
    bool ready = ssl && SSL_set1_host(ssl, host.c_str()) == 1 && SSL_set_fd(ssl, static_cast<int>(s)) == 1;
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    if (ready && !ip) ready = SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
    ASN1_OCTET_STRING_free(ip);
    const std::int64_t end = nowMs() + timeoutMs;
    while (ready) {
        const int r = SSL_connect(ssl);
        if (r == 1) {
            why = OpenFailure::None;
            return std::make_unique<TlsStream>(std::move(tcp), s, ctx, ssl);
        }
        const int e = SSL_get_error(ssl, r);
        const std::int64_t left = end - nowMs();
        if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && left > 0) {
            if (!waitFor(s, e == SSL_ERROR_WANT_WRITE, static_cast<int>(left))) why = OpenFailure::Unreachable;
            continue;
        }
        // A certificate that failed verification is NotTrusted; a handshake
        // cut off or never finished is an unreachable gateway.
        if (SSL_get_verify_result(ssl) == X509_V_OK && e != SSL_ERROR_SSL) why = OpenFailure::Unreachable;
        if (left <= 0) why = OpenFailure::Unreachable;
        break;
    }
    ERR_clear_error();
    if (ssl) SSL_free(ssl);
    SSL_CTX_free(ctx);
    return nullptr;
}

}  // namespace kelvane::link::net
