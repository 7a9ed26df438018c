// Rebuild of the firmware catalogue over a folder of packages, beside the time to read the
// same files plainly and to checksum the same bytes in memory (warm page cache).
// Usage: bench_catalogue [TOTAL_MIB] [FOLDER_PARENT]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/fmw_crc.h"
#include "firmware/fmw_trace.h"
#include "firmware/signed_list.h"
#include "firmware/upgrade_catalogue.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace {

constexpr uint32_t kImageBytes = 4u << 20;
constexpr int kImagesPerPackage = 8;
constexpr int kRounds = 5;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

uint64_t ReadPlainly(const std::vector<std::string>& paths) {
    std::vector<char> buf(256 * 1024);
    uint64_t total = 0;
    for (const std::string& p : paths) {
        std::FILE* f = std::fopen(p.c_str(), "rb");
        if (f == nullptr) {
            continue;
        }
        size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
            total += n;
        }
        std::fclose(f);
    }
    return total;
}

template <typename F>
double Best(F f) {
    double best = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        auto t = std::chrono::steady_clock::now();
        f();
        best = std::min(best, Seconds(t));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t totalMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const std::string parent = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    std::string folder = parent + "/orvane-bench-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    orvane::SetFmwTraceOutput(nullptr);
    orvane::InitLog(orvane::kLogMajor, "");

    const uint64_t packageBytes = uint64_t{kImageBytes} * kImagesPerPackage;
    const int packages =
        static_cast<int>((totalMiB * (1u << 20) + packageBytes - 1) / packageBytes);
    std::vector<std::string> paths;
    for (int i = 0; i < packages; ++i) {
        auto plan = orvane::fwbuild::MakePackageSpec(
            "X_B" + std::to_string(i) + "_V1.0.0." + std::to_string(i),
            std::vector<uint32_t>(kImagesPerPackage, kImageBytes));
        plan.uSeed = static_cast<uint32_t>(i + 1);
        std::string bytes = orvane::fwbuild::BuildPackage(plan);
        paths.push_back(folder + "/pkg" + std::to_string(i) + ".bin");
        std::ofstream(paths.back(), std::ios::binary).write(bytes.data(), bytes.size());
    }

    uint64_t bytes = ReadPlainly(paths);  // warms the page cache
    double plain = Best([&] { ReadPlainly(paths); });
    std::vector<orvane::UpgradeFileInfo> catalogue;
    std::mutex lock;
    double rebuild = Best([&] { orvane::SaveUpgradeFileInfo(catalogue, lock, folder); });
    std::vector<char> block(64u << 20, 7);
    double crcOnly = Best([&] {
        for (uint64_t done = 0; done < bytes; done += block.size()) {
            orvane::fmw_crc32(block.data(), block.size());
        }
    });

    // The same rebuild with a trust key: a list of every package, signed by the integrator's
    // own command line.
    const std::string sign = "cd '" + folder +
                             "' && sha256sum *.bin > SHA256SUMS && openssl ecparam -name "
                             "prime256v1 -genkey -noout -out key.pem && openssl pkey -in key.pem "
                             "-pubout -out key.pub && openssl dgst -sha256 -sign key.pem -out "
                             "SHA256SUMS.sig SHA256SUMS";
    if (std::system(sign.c_str()) != 0) {
        std::fprintf(stderr, "cannot sign the list\n");
        return 1;
    }
    orvane::TrustRefusalCounts counts;
    orvane::FirmwareTrust trust(&counts);
    trust.SetKey(folder + "/key.pub");
    std::vector<orvane::UpgradeFileInfo> trusted;
    auto first = std::chrono::steady_clock::now();
    orvane::SaveUpgradeFileInfo(trusted, lock, folder, &trust);
    const double trustedFirst = Seconds(first);
    double trustedRebuild =
        Best([&] { orvane::SaveUpgradeFileInfo(trusted, lock, folder, &trust); });

    const double mib = static_cast<double>(bytes) / (1u << 20);
    std::printf("packages             %d (%.0f MiB, %d images of %u MiB each)\n", packages, mib,
                kImagesPerPackage, kImageBytes >> 20);
    std::printf("catalogue records    %zu\n", catalogue.size());
    std::printf("plain read           %.3f s  (%.0f MiB/s)\n", plain, mib / plain);
    std::printf("catalogue rebuild    %.3f s  (%.0f MiB/s)\n", rebuild, mib / rebuild);
    std::printf("rebuild / plain read %.2f\n", rebuild / plain);
    std::printf("CRC-32 alone, memory %.3f s  (%.0f MiB/s)\n", crcOnly, mib / crcOnly);
    std::printf("rebuild / (read+CRC) %.2f\n", rebuild / (plain + crcOnly));
    std::printf("trusted records      %zu\n", trusted.size());
    std::printf("trust key, first     %.3f s  (%.0f MiB/s, every file's SHA-256)\n", trustedFirst,
                mib / trustedFirst);
    std::printf("trust key, rescan    %.3f s  (%.0f MiB/s, files unchanged)\n", trustedRebuild,
                mib / trustedRebuild);
    std::printf("first / plain rebuild  %.2f\n", trustedFirst / rebuild);
    std::printf("rescan / plain rebuild %.2f\n", trustedRebuild / rebuild);

    std::filesystem::remove_all(folder);
    return catalogue.size() == static_cast<size_t>(packages) && trusted.size() == catalogue.size()
               ? 0
               : 1;
}
