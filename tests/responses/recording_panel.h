// An in-memory panel that also records every write a decoder makes, in
// order, so tests can compare two decodings or count writes per control.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <map>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <string>
#include <vector>

#include "valdor/panel/memory_panel.h"

namespace valdor::testing {

using Bytes = std::vector<uint8_t>;

class RecordingPanel : public MemoryPanel {
public:
    RecordingPanel() { createDeviceWindow(); }

    void setText(int control, std::string_view text) override {
        log.push_back(std::to_string(control) + "=" + std::string(text));
        ++writes[control];
        MemoryPanel::setText(control, text);
    }
    void setChecked(int control, bool on) override {
        log.push_back(std::to_string(control) + (on ? "+" : "-"));
        ++writes[control];
        MemoryPanel::setChecked(control, on);
    }
    void showDeviceWindow() override {
        log.push_back("show");
        MemoryPanel::showDeviceWindow();
    }

    std::vector<std::string> log;
    std::map<int, int> writes;
};

// A response with DH0 0xE0, the given DH1 and the layout mark, zeros elsewhere.
inline Bytes response(bool enhanced, uint8_t dh1, size_t size = 400) {
    Bytes bytes(size, 0x00);
    bytes[0] = 0xE0;
    bytes[1] = dh1;
    if (enhanced) bytes[2] = 0xFF;
    return bytes;
}

inline void put(Bytes &bytes, size_t at, std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) bytes[at + i] = static_cast<uint8_t>(text[i]);
}

// Each control shows its text.
inline void expectTexts(const Panel &panel, std::initializer_list<std::pair<int, std::string_view>> texts) {
    for (const auto &[control, text] : texts) EXPECT_EQ(panel.text(control), text) << "control " << control;
}

// Decoding the first n bytes of `full`, for every n, must read nothing past
// them and make the writes that `full`, zero from byte n on, makes.  Each
// prefix sits in a heap buffer of exactly n bytes, so that a sanitizer build
// catches any read past it.
template <typename Decode>
void expectPrefixesDecodeAsPadded(const Bytes &full, Decode decode) {
    for (size_t n = 0; n <= full.size(); ++n) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[n]);
        std::copy_n(full.begin(), n, exact.get());
        Bytes padded(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        padded.resize(full.size(), 0x00);
        RecordingPanel shortPanel, paddedPanel;
        decode(shortPanel, std::span<const uint8_t>(exact.get(), n));
        decode(paddedPanel, std::span<const uint8_t>(padded));
        ASSERT_EQ(shortPanel.log, paddedPanel.log) << "dh1 " << int(full[1]) << " length " << n;
    }
}

}  // namespace valdor::testing
