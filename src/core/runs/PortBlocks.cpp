#include "core/runs/PortBlocks.h"

#include <QRandomGenerator>

#include <mutex>
#include <set>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PortBlocks {

namespace {

bool portFree(int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound =
        ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(socket);
    return bound;
}

// The blocks this process has handed out, and the lock that makes checking and recording
// one step for searches running at the same time.
std::mutex handedLock;
std::set<int> handed;

}  // namespace

bool blockFree(int first) {
    for (int port = first; port < first + kBlockSize; ++port) {
        if (!portFree(port)) {
            return false;
        }
    }
    return true;
}

Result<std::vector<int>> reserve(int count, int start) {
    constexpr int blocks = (kHighest - kLowest) / kBlockSize;
    if (start < kLowest || start >= kHighest) {
        start = kLowest + int(QRandomGenerator::global()->bounded(blocks)) * kBlockSize;
    }
    start -= (start - kLowest) % kBlockSize;
    const std::lock_guard lock(handedLock);
    std::vector<int> found;
    for (int tried = 0; tried < blocks && int(found.size()) < count; ++tried) {
        const int first = kLowest + (start - kLowest + tried * kBlockSize) % (kHighest - kLowest);
        if (!handed.contains(first) && blockFree(first)) {
            found.push_back(first);
        }
    }
    if (int(found.size()) < count) {
        return Error::invalid(QStringLiteral("Could not find free ports for the copies."));
    }
    handed.insert(found.begin(), found.end());
    return found;
}

}  // namespace PortBlocks
