#include "valdor/transfers/transfer_registry.h"

#include <map>
#include <mutex>

#include "valdor/engine/send_thread.h"

namespace valdor::transfer_registry {

namespace {

struct Peers {
    const DownloadHook *download = nullptr;
    const OplogHook *oplog = nullptr;
};

// The lock is held while a peer is asked, so that a peer never leaves (and
// is destroyed) in the middle of the question.
std::mutex &registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<const void *, Peers> &registry() {
    static std::map<const void *, Peers> peers;
    return peers;
}

void forget(const void *worker) {
    auto it = registry().find(worker);
    if (it != registry().end() && !it->second.download && !it->second.oplog) registry().erase(it);
}

}  // namespace

void enrol(const void *worker, const DownloadHook *download) {
    std::lock_guard lock(registryMutex());
    registry()[worker].download = download;
}

void enrol(const void *worker, const OplogHook *oplog) {
    std::lock_guard lock(registryMutex());
    registry()[worker].oplog = oplog;
}

void leave(const void *worker, const DownloadHook *download) {
    std::lock_guard lock(registryMutex());
    auto it = registry().find(worker);
    if (it != registry().end() && it->second.download == download) it->second.download = nullptr;
    forget(worker);
}

void leave(const void *worker, const OplogHook *oplog) {
    std::lock_guard lock(registryMutex());
    auto it = registry().find(worker);
    if (it != registry().end() && it->second.oplog == oplog) it->second.oplog = nullptr;
    forget(worker);
}

bool downloadUnderWay(const void *worker) {
    std::lock_guard lock(registryMutex());
    auto it = registry().find(worker);
    return it != registry().end() && it->second.download && it->second.download->underWay();
}

bool acquisitionUnderWay(const void *worker) {
    std::lock_guard lock(registryMutex());
    auto it = registry().find(worker);
    return it != registry().end() && it->second.oplog && it->second.oplog->underWay();
}

}  // namespace valdor::transfer_registry
