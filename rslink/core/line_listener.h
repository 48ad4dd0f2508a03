// Someone who wants to see every byte on the line as it goes: the capture.
// The port calls it only when one is set, so that a line nobody listens to
// pays one pointer test and nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rslink::core {

class LineListener {
public:
    virtual ~LineListener() = default;
    // Bytes this side wrote, as one write.
    virtual void sent(const uint8_t *data, size_t size) = 0;
    // Bytes one read took from the line.
    virtual void received(const uint8_t *data, size_t size) = 0;
    // A read found nothing: a good moment to finish a burst that has ended.
    virtual void quiet() = 0;
};

}  // namespace rslink::core
