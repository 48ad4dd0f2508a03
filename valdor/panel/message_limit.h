// How much text the message box keeps.  The repeat mode runs for nights and
// weekends, so the box drops its oldest whole lines rather than grow without
// end.  Both the window's box and the in-memory panel keep the same bound.
#pragma once

#include <cstddef>
#include <deque>
#include <string_view>

namespace valdor {

// The most characters the box holds, counted as its text reads back: every
// line with its "\r\n".  Lines run from 15 to about 3,400 characters, so this
// is over nine hundred of the longest.  The window's document keeps its text
// as UTF-16 in a buffer that grows to powers of two and is compacted only when
// nearly full; 3 MiB characters (6 MiB) leave that buffer room to take the
// dropped lines' garbage before it compacts, so the window's memory settles
// once the box is full.
inline constexpr size_t kMessageBoxMaxChars = 3 * 1024 * 1024;

// The characters a line takes in the box.
constexpr size_t messageBoxChars(std::string_view line) { return line.size() + 2; }

// Keeps the length of every line in the box, oldest first, and says how many
// of the oldest must go for a new line to fit.  The newest line always stays,
// even one longer than the bound on its own.
class MessageBoxBudget {
public:
    // Takes a new line into the count; returns how many of the oldest lines
    // to drop (they are already out of the count).
    size_t add(std::string_view line) {
        const size_t chars = messageBoxChars(line);
        size_t drop = 0;
        while (!lines_.empty() && total_ + chars > kMessageBoxMaxChars) {
            total_ -= lines_.front();
            lines_.pop_front();
            ++drop;
        }
        lines_.push_back(chars);
        total_ += chars;
        return drop;
    }
    void clear() {
        lines_.clear();
        total_ = 0;
    }
    size_t chars() const { return total_; }
    size_t lines() const { return lines_.size(); }

private:
    std::deque<size_t> lines_;
    size_t total_ = 0;
};

}  // namespace valdor
