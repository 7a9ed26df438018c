// Arbitrary bytes as a package file, then every query a consumer makes of the handle. An odd
// first byte has the CRCs made right first: only those inputs reach the marks and images.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "firmware/fmw_package.h"
#include "firmware/fmw_trace.h"
#include "tools/fmw_builder.h"

namespace {

// The scratch package file, removed when the fuzzer exits.
struct FuzzFile {
    FuzzFile() {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/orvane-fuzz-" +
               std::to_string(getpid()) + ".bin";
    }
    ~FuzzFile() { std::remove(path.c_str()); }
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FuzzFile file;
    const std::string& path = file.path;
    orvane::SetFmwTraceOutput(nullptr);
    if (size == 0) {
        return 0;
    }
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) != 0) {
        orvane::fwbuild::SignPackage(&bytes);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    int error = 0;
    orvane::FmwHandlePtr handle = orvane::create_fmw_header(path.c_str(), &error);
    if (handle) {
        for (int tag : {0, 1, 4, 5, -1}) {
            orvane::get_fmw_va_inform(handle.get(), tag);
        }
        orvane::compute_header_crc(handle.get());
        orvane::check_img_crc(handle.get(), path.c_str());
        orvane::destroy_fmw_header(std::move(handle));
    }
    return 0;
}
