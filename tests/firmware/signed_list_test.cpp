#include "firmware/signed_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "firmware/upgrade_catalogue.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

// Runs an openssl command line in `dir`; the integrator's own tool makes keys and signatures.
bool Openssl(const test::TempDir& dir, const std::string& args) {
    const std::string command = "cd '" + dir.Path() + "' && openssl " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A key pair of each kind in `dir`: ec.pem/ec.pub, ed.pem/ed.pub, other.pem/other.pub (EC).
void MakeKeys(const test::TempDir& dir) {
    ASSERT_TRUE(Openssl(dir, "ecparam -name prime256v1 -genkey -noout -out ec.pem"));
    ASSERT_TRUE(Openssl(dir, "ecparam -name prime256v1 -genkey -noout -out other.pem"));
    ASSERT_TRUE(Openssl(dir, "genpkey -algorithm ed25519 -out ed.pem"));
    for (const char* k : {"ec", "other", "ed"}) {
        ASSERT_TRUE(Openssl(dir, std::string("pkey -in ") + k + ".pem -pubout -out " + k + ".pub"));
    }
}

std::string Sha256Of(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::string hex = f ? Sha256Hex(f) : "";
    if (f) {
        std::fclose(f);
    }
    return hex;
}

// Catches a list taken whatever signed it, a tampered or unsigned list taken, a key kind
// refused, a file let through that the list does not name with its digest, or an empty list
// taken for a missing one.
TEST(SignedListTest, SignatureAndDigestsDecide) {
    test::TempDir keys;
    MakeKeys(keys);
    test::TempDir folder;
    folder.Write("a.bin", "firmware a");
    folder.Write("b.bin", "firmware b");
    const std::string a = Sha256Of(folder.File("a.bin"));
    const std::string b = Sha256Of(folder.File("b.bin"));
    ASSERT_EQ(a.size(), 64u);
    // Text and binary mode lines, a CR LF, a "./" name, and a line that is no entry.
    const std::string list = a + "  a.bin\r\n" + b + " *./b.bin\nnot a line\n";
    const std::string ecSign = "dgst -sha256 -sign '" + keys.File("ec.pem") + "'";
    const std::string edSign = "pkeyutl -sign -rawin -inkey '" + keys.File("ed.pem") + "'";
    struct Case {
        const char* what;
        std::string sign;  // openssl arguments before "-out SHA256SUMS.sig -in SHA256SUMS"
        std::string key;
        std::string listAfterSigning;  // empty: the list as signed
        bool removeSig;
        bool loads;
    } cases[] = {
        {"good ECDSA", ecSign, "ec.pub", "", false, true},
        {"good Ed25519", edSign, "ed.pub", "", false, true},
        {"tampered list", ecSign, "ec.pub", list + a + "  evil.bin\n", false, false},
        {"wrong key", ecSign, "other.pub", "", false, false},
        {"missing signature", ecSign, "ec.pub", "", true, false},
        {"private key given", ecSign, "ec.pem", "", false, false},
        {"Ed25519 signature, EC key", edSign, "ec.pub", "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder.Write(kSignedListName, list);
        ASSERT_TRUE(Openssl(folder, c.sign + " -out SHA256SUMS.sig" +
                                        (c.sign == edSign ? " -in SHA256SUMS" : " SHA256SUMS")));
        if (!c.listAfterSigning.empty()) {
            folder.Write(kSignedListName, c.listAfterSigning);
        }
        if (c.removeSig) {
            std::remove(folder.File(kSignedListSigName).c_str());
        }
        SignedList signedList;
        std::string error;
        EXPECT_EQ(signedList.Load(keys.File(c.key), folder.Path(), &error), c.loads) << error;
        EXPECT_EQ(error.empty(), c.loads) << error;
        if (!c.loads) {
            EXPECT_EQ(signedList.Count(), 0u);
            continue;
        }
        EXPECT_EQ(signedList.Count(), 2u);
        EXPECT_EQ(signedList.Check("a.bin", a), TrustRefusal::kNone);
        EXPECT_EQ(signedList.Check("b.bin", b), TrustRefusal::kNone);
        EXPECT_EQ(signedList.Check("a.bin", b), TrustRefusal::kDigest);   // changed digest
        EXPECT_EQ(signedList.Check("copy.bin", a), TrustRefusal::kNone);  // listed content
        EXPECT_EQ(signedList.Check("c.bin", std::string(64, '0')), TrustRefusal::kUnlisted);
    }
    // A signed list of nothing is a list: it loads and vouches for no file.
    folder.Write(kSignedListName, "");
    ASSERT_TRUE(Openssl(folder, ecSign + " -out SHA256SUMS.sig SHA256SUMS"));
    SignedList empty;
    std::string error;
    EXPECT_TRUE(empty.Load(keys.File("ec.pub"), folder.Path(), &error)) << error;
    EXPECT_EQ(empty.Count(), 0u);
}

// Catches the gate letting an unlisted or changed file into the catalogue (also one written
// in place since the last rebuild read it), a failed list
// leaving the last rebuild's files offered, or vouched versions that are not the files read.
TEST(SignedListTest, CatalogueOffersOnlyVouchedFiles) {
    test::TempDir keys;
    MakeKeys(keys);
    test::TempDir folder;
    auto package = [](const char* version) {
        return fwbuild::BuildPackage(fwbuild::MakePackageSpec(version, {512}));
    };
    folder.Write("m1.bin", package("X_M1_V1.0.0.0"));
    folder.Write("m2.bin", package("X_M2_V1.0.0.0"));
    folder.Write("m3.bin", package("X_M3_V1.0.0.0"));
    keys.Write("old.bin", package("X_M2_V0.9.0.0"));
    folder.Write(kSignedListName, Sha256Of(folder.File("m1.bin")) + "  m1.bin\n" +
                                      Sha256Of(keys.File("old.bin")) + "  m2.bin\n");
    ASSERT_TRUE(Openssl(
        folder, "dgst -sha256 -sign '" + keys.File("ec.pem") + "' -out SHA256SUMS.sig SHA256SUMS"));
    TrustRefusalCounts counts;
    FirmwareTrust trust(&counts);
    trust.SetKey(keys.File("ec.pub"));
    std::vector<UpgradeFileInfo> catalogue;
    std::mutex lock;
    for (int round = 0; round < 2; ++round) {
        SaveUpgradeFileInfo(catalogue, lock, folder.Path(), &trust);
        ASSERT_EQ(catalogue.size(), 1u);
        EXPECT_STREQ(catalogue[0].szFileName, "m1.bin");
        ASSERT_EQ(trust.Vouched().size(), 1u);
        platform::FileVersion m1;
        std::FILE* f = std::fopen(folder.File("m1.bin").c_str(), "rb");
        ASSERT_TRUE(f && platform::VersionOfStream(f, &m1));
        std::fclose(f);
        EXPECT_TRUE(trust.Vouched()[0] == m1);
    }
    // m2 differs from its digest, m3 is unlisted: each counted once over both rebuilds.
    EXPECT_EQ(counts.digest.load(), 1u);
    EXPECT_EQ(counts.unlisted.load(), 1u);
    EXPECT_EQ(trust.ListCount(), 2);
    // Written in place, same size: the digest of the last rebuild no longer stands for it.
    folder.Write("m1.bin", package("X_M1_V1.0.0.1"));
    SaveUpgradeFileInfo(catalogue, lock, folder.Path(), &trust);
    EXPECT_TRUE(catalogue.empty());
    EXPECT_EQ(counts.digest.load(), 2u);

    folder.Write(kSignedListName, "tampered\n");
    SaveUpgradeFileInfo(catalogue, lock, folder.Path(), &trust);
    EXPECT_TRUE(catalogue.empty());
    EXPECT_TRUE(trust.Vouched().empty());
    EXPECT_EQ(counts.signature.load(), 1u);
    EXPECT_EQ(trust.ListCount(), -1);
}

}  // namespace
}  // namespace orvane
