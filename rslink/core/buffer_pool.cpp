#include "rslink/core/buffer_pool.h"

namespace rslink::core {

uint8_t *BufferPool::take() {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < kCount; ++i) {
        if (!inUse_[i]) {
            inUse_[i] = true;
            return buffers_[i].data();
        }
    }
    return nullptr;
}

int BufferPool::indexOf(const void *buffer) const {
    for (size_t i = 0; i < kCount; ++i)
        if (buffer == buffers_[i].data()) return static_cast<int>(i);
    return -1;
}

bool BufferPool::release(const void *buffer) {
    const int i = indexOf(buffer);
    if (i < 0) return false;
    std::lock_guard lock(mutex_);
    inUse_[static_cast<size_t>(i)] = false;
    return true;
}

int BufferPool::lent() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (bool used : inUse_) n += used ? 1 : 0;
    return n;
}

void BufferPool::reset() {
    std::lock_guard lock(mutex_);
    inUse_.fill(false);
}

}  // namespace rslink::core
