#include "tftp/tftp_counters.h"

namespace orvane {

TftpCounters& GetTftpCounters() {
    static TftpCounters counters;
    return counters;
}

}  // namespace orvane
