// The receive-buffer pool: ten buffers of 1492 bytes lent to the client one
// received text at a time and given back with BLK_RELEASE.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "rslink/rslink.h"

namespace rslink::core {

class BufferPool {
public:
    static constexpr size_t kCount = RS_RECV_BUFFER_COUNT;
    static constexpr size_t kSize = RS_RECV_BUFFER_SIZE;

    // Marks the first free buffer (in pool order) in use and returns it, or
    // nullptr while all are lent.
    uint8_t *take();

    // Gives a buffer back; false (and nothing changes) when `buffer` is not
    // the start of one of the pool's buffers.
    bool release(const void *buffer);

    // The number of buffers lent now.
    int lent() const;

    // All buffers free again (at open).
    void reset();

    // Buffer i's address and index lookup, for blocks tied to a buffer.
    uint8_t *buffer(size_t i) { return buffers_[i].data(); }
    int indexOf(const void *buffer) const;

private:
    mutable std::mutex mutex_;
    std::array<bool, kCount> inUse_{};
    std::array<std::array<uint8_t, kSize>, kCount> buffers_{};
};

}  // namespace rslink::core
