#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"

namespace orvane {

// The list of the firmware folder that names the files an integrator vouches for, in the
// sha256sum format, and its signature by the integrator's key.
constexpr const char* kSignedListName = "SHA256SUMS";
constexpr const char* kSignedListSigName = "SHA256SUMS.sig";

// Why a file is not offered under the signed list.
enum class TrustRefusal {
    kNone,
    kUnlisted,   // neither its name nor its digest is in the list
    kDigest,     // the list names it with another digest
    kSignature,  // the list itself failed its check
};

// Refusals since the process began (metrics); each refused file version is counted once.
struct TrustRefusalCounts {
    std::atomic<uint64_t> unlisted{0};
    std::atomic<uint64_t> digest{0};
    std::atomic<uint64_t> signature{0};
};

// A checked list: names and their SHA-256 digests (64 lower-case hexadecimal digits).
class SignedList {
  public:
    // Reads the PEM public key at `keyPath` and the folder's SHA256SUMS and SHA256SUMS.sig,
    // and checks the signature. False with the operator's reason in `error` (the list is then
    // empty).
    bool Load(const std::string& keyPath, const std::string& folder, std::string* error);
    // Why the file `name` with `digest` is not vouched for, or kNone. A listed name must have
    // its own digest; an unlisted name is vouched for when its digest is listed under another
    // name (a cloud download of a listed file keeps the service's name).
    TrustRefusal Check(const std::string& name, const std::string& digest) const;
    bool HasDigest(const std::string& digest) const { return m_setDigests.count(digest) > 0; }
    size_t Count() const { return m_mapByName.size(); }

    // The entries of the text of a SHA256SUMS file (lines that are not "DIGEST  NAME" or
    // "DIGEST *NAME" are left out); exposed for tests.
    static std::map<std::string, std::string> Parse(const std::string& text);

  private:
    std::map<std::string, std::string> m_mapByName;
    std::set<std::string> m_setDigests;
};

// The SHA-256 of what is left to read in `file` as 64 lower-case hexadecimal digits; empty when
// it cannot be read.
std::string Sha256Hex(std::FILE* file);

// The catalogue's gate while a trust key is set: at each rebuild the list is loaded and checked
// again, and each firmware file is offered only when the list vouches for what was read. The
// versions of the files let through are what the TFTP server may serve. Used under the
// catalogue lock.
class FirmwareTrust {
  public:
    explicit FirmwareTrust(TrustRefusalCounts* counts) : m_pCounts(counts) {}

    // Sets the key for the runs that follow; empty turns the gate off (every file passes).
    void SetKey(const std::string& keyPath);
    bool IsOn() const { return !m_szKeyPath.empty(); }

    // Starts a rebuild of `folder`: loads and checks the list. False (logged and counted) when
    // the list cannot be trusted; nothing passes then. Forgets the files let through.
    bool BeginRebuild(const std::string& folder);
    // Whether the open file `name` may be offered; reads it whole from its start unless the
    // same version was read at this rebuild or the last one. A refusal is logged once per file
    // version, with its name and digest. Always true while off.
    bool Vouch(std::FILE* file, const std::string& name);

    // Versions of the files let through since the last BeginRebuild.
    const std::vector<platform::FileVersion>& Vouched() const { return m_vecVouched; }
    // Entries of the last list checked; -1 while off or when it failed its check.
    int ListCount() const { return m_iListCount.load(); }
    // Whether `digest` is in the last list checked.
    bool IsListed(const std::string& digest) const { return m_list.HasDigest(digest); }

  private:
    void NoteRefusal(const std::string& name, const std::string& digest, TrustRefusal why);

    TrustRefusalCounts* m_pCounts;
    std::string m_szKeyPath;
    SignedList m_list;
    bool m_bListGood = false;
    std::atomic<int> m_iListCount{-1};
    std::vector<platform::FileVersion> m_vecVouched;
    // Digests by file version, of this rebuild's files and the last one's: a file unchanged
    // since (same identity, size, modification and change times) is not read again.
    using VersionKey = std::array<int64_t, 5>;
    static VersionKey KeyOf(const platform::FileVersion& v);
    std::map<VersionKey, std::string> m_mapDigests;
    std::map<VersionKey, std::string> m_mapLastDigests;
    // Refusals already logged: name, digest and reason, so a rescan every few seconds does not
    // repeat them. Bounded: past the bound it starts afresh.
    std::set<std::string> m_setLogged;
};

// The note both front-ends show while a trust key is in force: "Signed list: N files" for the
// entries of the list last checked, in the calling thread's language; empty for -1 (no key, or a
// list that failed its check).
std::string SignedListNote(int count);

}  // namespace orvane
