#include "platform/signature.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace orvane::platform {

namespace {

constexpr size_t kReadSize = 64 * 1024;
constexpr size_t kP256Half = 32;  // bytes of r and of s in CNG's signature form
constexpr const char* kOidEd25519 = "1.3.101.112";

// The provider is opened once: opening it is the costly step, and one provider serves hashes
// on many threads.
BCRYPT_ALG_HANDLE Sha256Provider() {
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        return BCRYPT_SUCCESS(
                   ::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0))
                   ? h
                   : nullptr;
    }();
    return provider;
}

struct HashDeleter {
    void operator()(void* h) const { ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(h)); }
};
struct KeyDeleter {
    void operator()(void* k) const { ::BCryptDestroyKey(static_cast<BCRYPT_KEY_HANDLE>(k)); }
};
struct LocalDeleter {
    void operator()(void* p) const { ::LocalFree(p); }
};

void SetError(std::string* error, const char* text) {
    if (error != nullptr) {
        *error = text;
    }
}

bool Sha256OfBytes(const std::string& data, unsigned char (&digest)[kSha256Size]) {
    BCRYPT_ALG_HANDLE provider = Sha256Provider();
    BCRYPT_HASH_HANDLE raw = nullptr;
    if (provider == nullptr ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(provider, &raw, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    std::unique_ptr<void, HashDeleter> hash(raw);
    auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data()));
    return BCRYPT_SUCCESS(::BCryptHashData(raw, bytes, static_cast<ULONG>(data.size()), 0)) &&
           BCRYPT_SUCCESS(::BCryptFinishHash(raw, digest, kSha256Size, 0));
}

// The ECDSA P-256 key of a PEM "PUBLIC KEY" block, in CNG.
BCRYPT_KEY_HANDLE ImportPublicKey(const std::string& pem, std::string* error) {
    DWORD derSize = 0;
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &derSize, nullptr, nullptr)) {
        SetError(error, "not a PEM public key");
        return nullptr;
    }
    std::vector<BYTE> der(derSize);
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, der.data(), &derSize, nullptr,
                                nullptr) ||
        !::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &infoSize)) {
        SetError(error, "not a PEM public key");
        return nullptr;
    }
    std::unique_ptr<void, LocalDeleter> infoOwner(info);
    const char* algorithm = info->Algorithm.pszObjId;
    if (algorithm != nullptr && std::strcmp(algorithm, kOidEd25519) == 0) {
        SetError(error, "Ed25519 keys are not supported on Windows; use an ECDSA P-256 key");
        return nullptr;
    }
    // The curve is the algorithm's parameter: an OBJECT IDENTIFIER, 06 08 then the P-256 OID.
    static const BYTE kP256[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
    const CRYPT_OBJID_BLOB& curve = info->Algorithm.Parameters;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (algorithm == nullptr || std::strcmp(algorithm, szOID_ECC_PUBLIC_KEY) != 0 ||
        curve.cbData != sizeof kP256 || std::memcmp(curve.pbData, kP256, sizeof kP256) != 0 ||
        !::CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key)) {
        SetError(error, "the key is neither ECDSA P-256 nor Ed25519");
        return nullptr;
    }
    return key;
}

// A DER ECDSA signature as CNG takes it: r then s, 32 big-endian bytes each. The decoder gives
// both numbers little-endian and without leading zeros.
bool ToRawSignature(const std::string& der, std::vector<BYTE>* raw) {
    CERT_ECC_SIGNATURE* sig = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(
            X509_ASN_ENCODING, X509_ECC_SIGNATURE, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &sig, &size)) {
        return false;
    }
    std::unique_ptr<void, LocalDeleter> owner(sig);
    raw->assign(2 * kP256Half, 0);
    const CRYPT_UINT_BLOB* parts[2] = {&sig->r, &sig->s};
    for (size_t i = 0; i < 2; ++i) {
        if (parts[i]->cbData > kP256Half) {
            return false;
        }
        BYTE* end = raw->data() + (i + 1) * kP256Half;
        for (DWORD b = 0; b < parts[i]->cbData; ++b) {
            *(end - 1 - b) = parts[i]->pbData[b];
        }
    }
    return true;
}

}  // namespace

bool Sha256OfStream(std::FILE* file, unsigned char (&digest)[kSha256Size]) {
    BCRYPT_ALG_HANDLE provider = Sha256Provider();
    BCRYPT_HASH_HANDLE raw = nullptr;
    if (provider == nullptr ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(provider, &raw, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    std::unique_ptr<void, HashDeleter> hash(raw);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kReadSize]);
    if (!buffer) {
        return false;
    }
    size_t n = 0;
    while ((n = std::fread(buffer.get(), 1, kReadSize, file)) > 0) {
        if (!BCRYPT_SUCCESS(::BCryptHashData(raw, buffer.get(), static_cast<ULONG>(n), 0))) {
            return false;
        }
    }
    return !std::ferror(file) && BCRYPT_SUCCESS(::BCryptFinishHash(raw, digest, kSha256Size, 0));
}

SignatureCheck VerifySignature(const std::string& publicKeyPem, const std::string& data,
                               const std::string& signature, std::string* error) {
    std::unique_ptr<void, KeyDeleter> key(ImportPublicKey(publicKeyPem, error));
    if (!key) {
        return SignatureCheck::kBadKey;
    }
    unsigned char digest[kSha256Size];
    std::vector<BYTE> raw;
    if (!Sha256OfBytes(data, digest) || !ToRawSignature(signature, &raw)) {
        return SignatureCheck::kInvalid;
    }
    const NTSTATUS status =
        ::BCryptVerifySignature(static_cast<BCRYPT_KEY_HANDLE>(key.get()), nullptr, digest,
                                kSha256Size, raw.data(), static_cast<ULONG>(raw.size()), 0);
    return BCRYPT_SUCCESS(status) ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

}  // namespace orvane::platform
