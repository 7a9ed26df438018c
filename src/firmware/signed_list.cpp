#include "firmware/signed_list.h"

#include <cctype>
#include <memory>

#include "platform/signature.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {

// Bounds of what is read from the folder: a list of many thousand files, a key, a signature.
constexpr int64_t kMaxListBytes = 4 << 20;
constexpr int64_t kMaxKeyBytes = 64 << 10;
constexpr int64_t kMaxSignatureBytes = 4 << 10;
constexpr size_t kDigestDigits = 64;
constexpr size_t kMaxLogged = 4096;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The whole file at `path` when it is a regular file of at most `limit` bytes.
bool ReadSmallFile(const std::string& path, int64_t limit, std::string* text) {
    std::unique_ptr<std::FILE, FileCloser> f(platform::OpenRegularFileForRead(path));
    const int64_t size = f ? platform::FileSize(f.get()) : -1;
    if (size < 0 || size > limit) {
        return false;
    }
    text->assign(static_cast<size_t>(size), '\0');
    return std::fread(text->data(), 1, text->size(), f.get()) == text->size() &&
           std::fgetc(f.get()) == EOF;
}

bool IsHexDigest(const std::string& text) {
    if (text.size() != kDigestDigits) {
        return false;
    }
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

const char* ReasonName(TrustRefusal why) {
    switch (why) {
        case TrustRefusal::kUnlisted:
            return "not in the signed list";
        case TrustRefusal::kDigest:
            return "its digest differs from the signed list's";
        default:
            return "the signed list failed its check";
    }
}

}  // namespace

std::map<std::string, std::string> SignedList::Parse(const std::string& text) {
    std::map<std::string, std::string> entries;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        // "DIGEST  NAME" (text mode) or "DIGEST *NAME" (binary mode). A line sha256sum escaped
        // (it begins with "\") names a file with a backslash or a line break: never firmware
        // the TFTP server serves, so it is left out with the malformed ones.
        if (line.size() < kDigestDigits + 3 || line[kDigestDigits] != ' ' ||
            (line[kDigestDigits + 1] != ' ' && line[kDigestDigits + 1] != '*')) {
            continue;
        }
        const std::string digest = line.substr(0, kDigestDigits);
        std::string name = line.substr(kDigestDigits + 2);
        if (name.compare(0, 2, "./") == 0) {
            name.erase(0, 2);
        }
        if (IsHexDigest(digest) && !name.empty()) {
            entries[name] = LowerCase(digest);
        }
    }
    return entries;
}

bool SignedList::Load(const std::string& keyPath, const std::string& folder, std::string* error) {
    m_mapByName.clear();
    m_setDigests.clear();
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    std::string key;
    std::string list;
    std::string signature;
    if (!ReadSmallFile(keyPath, kMaxKeyBytes, &key)) {
        *error = "the key " + keyPath + " cannot be read";
        return false;
    }
    if (!ReadSmallFile(dir + kSignedListName, kMaxListBytes, &list)) {
        *error = std::string(kSignedListName) + " is missing from " + folder + " (or unreadable)";
        return false;
    }
    if (!ReadSmallFile(dir + kSignedListSigName, kMaxSignatureBytes, &signature)) {
        *error =
            std::string(kSignedListSigName) + " is missing from " + folder + " (or unreadable)";
        return false;
    }
    std::string keyError;
    switch (platform::VerifySignature(key, list, signature, &keyError)) {
        case platform::SignatureCheck::kValid:
            break;
        case platform::SignatureCheck::kBadKey:
            *error = keyPath + ": " + keyError;
            return false;
        case platform::SignatureCheck::kInvalid:
            *error = std::string(kSignedListSigName) + " is not a signature of " + kSignedListName +
                     " by the key " + keyPath;
            return false;
    }
    m_mapByName = Parse(list);
    for (const auto& entry : m_mapByName) {
        m_setDigests.insert(entry.second);
    }
    return true;
}

TrustRefusal SignedList::Check(const std::string& name, const std::string& digest) const {
    auto it = m_mapByName.find(name);
    if (it != m_mapByName.end()) {
        return it->second == digest ? TrustRefusal::kNone : TrustRefusal::kDigest;
    }
    return HasDigest(digest) ? TrustRefusal::kNone : TrustRefusal::kUnlisted;
}

std::string Sha256Hex(std::FILE* file) {
    unsigned char digest[platform::kSha256Size];
    if (!platform::Sha256OfStream(file, digest)) {
        return std::string();
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0f]);
    }
    return text;
}

void FirmwareTrust::SetKey(const std::string& keyPath) {
    m_szKeyPath = keyPath;
    m_setLogged.clear();
    m_vecVouched.clear();
    m_mapDigests.clear();
    m_mapLastDigests.clear();
    m_iListCount = -1;
}

FirmwareTrust::VersionKey FirmwareTrust::KeyOf(const platform::FileVersion& v) {
    return {static_cast<int64_t>(v.id.device), static_cast<int64_t>(v.id.inode), v.size,
            v.modifiedNs, v.changedNs};
}

bool FirmwareTrust::BeginRebuild(const std::string& folder) {
    m_vecVouched.clear();
    m_mapLastDigests = std::move(m_mapDigests);
    m_mapDigests.clear();
    if (!IsOn()) {
        return true;
    }
    std::string error;
    m_bListGood = m_list.Load(m_szKeyPath, folder, &error);
    m_iListCount = m_bListGood ? static_cast<int>(m_list.Count()) : -1;
    if (!m_bListGood) {
        ++m_pCounts->signature;
        WriteLog(kLogMajor, "Signed list refused, no firmware is offered: %s", error.c_str());
    }
    return m_bListGood;
}

bool FirmwareTrust::Vouch(std::FILE* file, const std::string& name) {
    if (!IsOn()) {
        return true;
    }
    if (!m_bListGood) {
        return false;
    }
    // The version is taken before and after the digest: a file written meanwhile is not the
    // file the digest describes.
    platform::FileVersion before;
    platform::FileVersion after;
    std::rewind(file);
    if (!platform::VersionOfStream(file, &before)) {
        return false;
    }
    const VersionKey key = KeyOf(before);
    auto known = m_mapLastDigests.find(key);
    std::string digest;
    if (known != m_mapLastDigests.end()) {
        digest = known->second;
    } else {
        digest = Sha256Hex(file);
        if (digest.empty() || !platform::VersionOfStream(file, &after) || after != before) {
            WriteLog(kLogMajor, "Firmware %s refused: it changed while its digest was taken",
                     name.c_str());
            return false;
        }
    }
    m_mapDigests[key] = digest;
    const TrustRefusal why = m_list.Check(name, digest);
    if (why != TrustRefusal::kNone) {
        NoteRefusal(name, digest, why);
        return false;
    }
    m_vecVouched.push_back(before);
    return true;
}

void FirmwareTrust::NoteRefusal(const std::string& name, const std::string& digest,
                                TrustRefusal why) {
    if (m_setLogged.size() >= kMaxLogged) {
        m_setLogged.clear();
    }
    if (!m_setLogged.insert(name + '\n' + digest + '\n' + ReasonName(why)).second) {
        return;
    }
    ++(why == TrustRefusal::kDigest ? m_pCounts->digest : m_pCounts->unlisted);
    WriteLog(kLogMajor, "Firmware %s (SHA-256 %s) refused: %s", name.c_str(), digest.c_str(),
             ReasonName(why));
}

std::string SignedListNote(int count) {
    if (count < 0) {
        return std::string();
    }
    return g_iLanguage == kLanguageChinese ? "签名清单：" + std::to_string(count) + " 个文件"
                                           : "Signed list: " + std::to_string(count) + " files";
}

}  // namespace orvane
