// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestCertificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <memory>
#include <stdexcept>

#include "support/TempDir.h"

namespace vantor::test {

namespace {

constexpr long kDay = 24L * 60 * 60;

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;

[[noreturn]] void Fail(const std::string& what) {
    std::string reason;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        reason += std::string(reason.empty() ? ": " : "; ") + text;
    }
    throw std::runtime_error("Test certificates: " + what + reason);
}

KeyPtr NewKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        Fail("cannot make an EC key");
    }
    return key;
}

struct Validity {
    long notBefore;  // seconds from now
    long notAfter;
};

// The extensions as openssl.cnf would spell them; `issuer` is the
// certificate itself for a self-signed one.
void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    ExtPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) {
        Fail("cannot add " + value);
    }
}

struct Subject {
    std::string commonName;
    std::string altNames;  // empty for the CA
};

// A certificate for `key`, signed by `issuerKey` (its own when `issuer` is
// null).
CertPtr MakeCert(const Subject& subject, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                 Validity validity) {
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), X509_VERSION_3) != 1) {
        Fail("cannot make a certificate");
    }
    // A random serial: clients may remember certificates by issuer and serial.
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        Fail("no random serial");
    }
    serial[0] &= 0x7f;
    std::unique_ptr<BIGNUM, Deleter<BN_free>> number(BN_bin2bn(serial, sizeof serial, nullptr));
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get()))) {
        Fail("cannot set the serial");
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    const auto* cn = reinterpret_cast<const unsigned char*>(subject.commonName.c_str());
    if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Vantor Lite tests"), -1,
                                   -1, 0) != 1 ||
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, cn, -1, -1, 0) != 1) {
        Fail("cannot set the subject");
    }
    X509* signer = issuer != nullptr ? issuer : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1 ||
        X509_set_pubkey(cert.get(), key) != 1 ||
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), validity.notBefore) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), validity.notAfter) == nullptr) {
        Fail("cannot fill in " + subject.commonName);
    }

    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer != nullptr) {
        AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    }
    if (subject.altNames.empty()) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        // keyCertSign on the self-signed one: without it OpenSSL does not
        // take it as self-signed and names another fault.
        AddExtension(cert.get(), signer, NID_key_usage,
                     issuer != nullptr ? "critical,digitalSignature"
                                       : "critical,digitalSignature,keyCertSign");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert.get(), signer, NID_subject_alt_name, subject.altNames);
    }
    if (X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0) {
        Fail("cannot sign " + subject.commonName);
    }
    return cert;
}

// `cert`, then `then` when there is one (an intermediate after the
// certificate it signed), or else `key`.
void WritePem(const std::string& path, X509* cert, EVP_PKEY* key, X509* then = nullptr) {
    BioPtr bio(BIO_new_file(path.c_str(), "w"));
    const bool ok =
        bio && (cert != nullptr ? PEM_write_bio_X509(bio.get(), cert) &&
                                      (then == nullptr || PEM_write_bio_X509(bio.get(), then))
                                : PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0,
                                                           nullptr, nullptr));
    if (!ok || BIO_flush(bio.get()) != 1) {
        Fail("cannot write " + path);
    }
    bio.reset();
    ::chmod(path.c_str(), 0644);
}

}  // namespace

std::string Name(CertKind kind) {
    switch (kind) {
        case CertKind::Valid:
            return "valid";
        case CertKind::OtherHost:
            return "other-host";
        case CertKind::ExpiresSoon:
            return "expires-soon";
        case CertKind::Expired:
            return "expired";
        case CertKind::Untrusted:
            return "untrusted";
        case CertKind::IntermediateEndsSoon:
            return "intermediate-ends-soon";
    }
    return "unknown";
}

TestCertificates MakeTestCertificates(const std::string& dir) {
    TestCertificates out;
    out.dir = dir;
    out.caCert = dir + "/ca.pem";
    out.caKey = dir + "/ca.key";

    const KeyPtr caKey = NewKey();
    // An hour back: a clock that differs a little still takes it as begun.
    const CertPtr ca = MakeCert({"Vantor Lite test CA", ""}, caKey.get(), nullptr, caKey.get(),
                                {-3600, 2 * 365 * kDay});
    WritePem(out.caCert, ca.get(), nullptr);
    WritePem(out.caKey, nullptr, caKey.get());
    const KeyPtr intermediateKey = NewKey();
    const CertPtr intermediate =
        MakeCert({"Vantor Lite test intermediate CA", ""}, intermediateKey.get(), ca.get(),
                 caKey.get(), {-3600, 3 * kDay});

    const std::string local = "DNS:localhost,IP:127.0.0.1";
    struct Plan {
        CertKind kind;
        Subject subject;
        Validity validity;
    };
    const Plan plans[] = {
        {CertKind::Valid, {"localhost", local}, {-3600, 365 * kDay}},
        {CertKind::OtherHost, {"other.example", "DNS:other.example"}, {-3600, 365 * kDay}},
        {CertKind::ExpiresSoon, {"localhost", local}, {-3600, 3 * kDay}},
        {CertKind::Expired, {"localhost", local}, {-10 * kDay, -kDay}},
        {CertKind::Untrusted, {"localhost", local}, {-3600, 365 * kDay}},
        {CertKind::IntermediateEndsSoon, {"localhost", local}, {-3600, 365 * kDay}},
    };
    for (const Plan& plan : plans) {
        const KeyPtr key = NewKey();
        const bool selfSigned = plan.kind == CertKind::Untrusted;
        const bool viaIntermediate = plan.kind == CertKind::IntermediateEndsSoon;
        X509* issuer = selfSigned ? nullptr : viaIntermediate ? intermediate.get() : ca.get();
        EVP_PKEY* issuerKey = selfSigned        ? key.get()
                              : viaIntermediate ? intermediateKey.get()
                                                : caKey.get();
        const CertPtr cert = MakeCert(plan.subject, key.get(), issuer, issuerKey, plan.validity);
        CertFiles& files = out.server[static_cast<std::size_t>(plan.kind)];
        files.kind = plan.kind;
        files.cert = dir + "/" + Name(plan.kind) + ".pem";
        files.key = dir + "/" + Name(plan.kind) + ".key";
        WritePem(files.cert, cert.get(), nullptr, viaIntermediate ? intermediate.get() : nullptr);
        WritePem(files.key, nullptr, key.get());
    }
    return out;
}

const TestCertificates& SharedTestCertificates() {
    static TempDir dir;
    static const TestCertificates certificates = [] {
        ::chmod(dir.path().c_str(), 0755);
        return MakeTestCertificates(dir.path());
    }();
    return certificates;
}

}  // namespace vantor::test
