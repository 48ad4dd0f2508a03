// Both response decoders on arbitrary responses of every length, each held
// in a heap buffer of exactly its size so that a read past its end is caught.
// A short response reads as zeros past its end: decoding it must show exactly
// what decoding it padded with zeros to a full receive buffer shows.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_line.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/responses/device_info_decoder.h"
#include "valdor/responses/response_decoder.h"

namespace {

constexpr size_t kReceiveBuffer = 1492;
// Both windows' controls: the main window's and the Device Information window's.
constexpr int kFirstControl = 1000;
constexpr int kLastControl = 1616;

struct Shown {
    std::string texts;
    std::string checks;
    bool deviceVisible;
};

Shown decode(const uint8_t *data, size_t size) {
    // Exactly `size` bytes on the heap, so that the sanitizer sees the end.
    std::unique_ptr<uint8_t[]> text(new uint8_t[size == 0 ? 1 : size]);
    if (size) std::memcpy(text.get(), data, size);
    valdor::MemoryPanel panel;
    panel.createDeviceWindow();
    const std::span<const uint8_t> response(text.get(), size);
    valdor::showResponse(panel, response);
    valdor::showDeviceResponse(panel, response);
    Shown shown{{}, {}, panel.deviceWindowVisible()};
    for (int c = kFirstControl; c <= kLastControl; ++c) {
        shown.texts += panel.text(c);
        shown.texts += '\n';
        shown.checks += panel.checked(c) ? '1' : '0';
    }
    return shown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kReceiveBuffer) return 0;  // no larger text is ever delivered
    const Shown asIs = decode(data, size);
    std::unique_ptr<uint8_t[]> padded(new uint8_t[kReceiveBuffer]());
    if (size) std::memcpy(padded.get(), data, size);
    const Shown full = decode(padded.get(), kReceiveBuffer);
    FUZZ_CHECK(asIs.texts == full.texts, "a short response shows other texts than its zero-padded self");
    FUZZ_CHECK(asIs.checks == full.checks, "a short response ticks other boxes than its zero-padded self");
    FUZZ_CHECK(asIs.deviceVisible == full.deviceVisible, "a short response shows the window differently");
    return 0;
}
