// Thread message queues: post a message with two word-sized parameters to a
// thread by identifier, take the next one blocking.  The registry is one per
// process and lives here, in the shared library, so the driver and its client
// use the same one.  A thread's queue ends with the thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "rslink/rslink.h"

namespace {

struct Queue {
    struct Item {
        RS_MSG msg;
        bool quit;
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Item> items;
    bool closed = false;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<unsigned long, std::shared_ptr<Queue>> queues;
    unsigned long next = 1;  // identifiers are never reused, so a stale one finds nothing
};

// Never destroyed: threads may still post while the process exits.
Registry &registry() {
    static Registry *r = new Registry;
    return *r;
}

std::shared_ptr<Queue> find(unsigned long thread) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.queues.find(thread);
    return it == r.queues.end() ? nullptr : it->second;
}

struct OwnQueue {
    unsigned long id = 0;
    std::shared_ptr<Queue> queue;
    void drop() {
        if (!id) return;
        {
            Registry &r = registry();
            std::lock_guard lock(r.mutex);
            r.queues.erase(id);
        }
        {
            std::lock_guard lock(queue->mutex);
            queue->closed = true;
            queue->items.clear();
        }
        id = 0;
        queue.reset();
    }
    ~OwnQueue() { drop(); }
};

thread_local OwnQueue self;

int post(unsigned long thread, const Queue::Item &item) {
    std::shared_ptr<Queue> q = find(thread);
    if (!q) return RS_ERR_NO_QUEUE;
    {
        std::lock_guard lock(q->mutex);
        if (q->closed) return RS_ERR_NO_QUEUE;
        q->items.push_back(item);
    }
    q->arrived.notify_one();
    return RS_OK;
}

// Waits until `deadline` (none: for ever) for the next item of the caller's queue.
int take(RS_MSG *msg, const std::chrono::steady_clock::time_point *deadline) {
    if (!self.id) return RS_ERR_NO_QUEUE;
    Queue &q = *self.queue;
    std::unique_lock lock(q.mutex);
    auto ready = [&] { return !q.items.empty(); };
    if (deadline) {
        if (!q.arrived.wait_until(lock, *deadline, ready)) return RS_ERR_TIMED_OUT;
    } else {
        q.arrived.wait(lock, ready);
    }
    Queue::Item item = q.items.front();
    q.items.pop_front();
    if (msg) *msg = item.msg;
    return item.quit ? RS_GOT_QUIT : RS_GOT_MESSAGE;
}

}  // namespace

extern "C" {

unsigned long RSQueueCreate(void) {
    if (self.id) return self.id;
    auto q = std::make_shared<Queue>();
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    self.id = r.next++;
    self.queue = q;
    r.queues.emplace(self.id, q);
    return self.id;
}

void RSQueueDestroy(void) { self.drop(); }

unsigned long RSQueueSelf(void) { return self.id; }

int RSPostMessage(unsigned long thread, unsigned int message, uintptr_t wparam, uintptr_t lparam) {
    return post(thread, {{message, wparam, lparam}, false});
}

int RSPostQuit(unsigned long thread) { return post(thread, {{0, 0, 0}, true}); }

int RSGetMessage(RS_MSG *msg) { return take(msg, nullptr); }

int RSGetMessageTimeout(RS_MSG *msg, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    return take(msg, &deadline);
}

}  // extern "C"
