// A download and an operational-log acquisition both continue on the worker
// after each response, and the worker gives every response to a running
// download first: the two must never run at the same time.  Each transfer
// enrols here with the worker it runs on, so that either can see the other.
#pragma once

namespace valdor {

class DownloadHook;
class OplogHook;

namespace transfer_registry {

void enrol(const void *worker, const DownloadHook *download);
void enrol(const void *worker, const OplogHook *oplog);
void leave(const void *worker, const DownloadHook *download);
void leave(const void *worker, const OplogHook *oplog);

// Safe from any thread: the hooks answer from atomics.
bool downloadUnderWay(const void *worker);
bool acquisitionUnderWay(const void *worker);

}  // namespace transfer_registry
}  // namespace valdor
