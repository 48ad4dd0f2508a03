// Feeding the script runner in-process while lines flood in: a script read in
// two parts, the runner held between them, and a standard output that only
// counts.  Shared by the headless tests and the benchmark.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <streambuf>
#include <string>

namespace testsupport {

// Gives `first`, then keeps the reader waiting for more until release(),
// then gives `second` and ends.
class HeldScript : public std::streambuf {
public:
    HeldScript(std::string first, std::string second) : first_(std::move(first)), second_(std::move(second)) {
        setg(first_.data(), first_.data(), first_.data() + first_.size());
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

protected:
    int_type underflow() override {
        if (eback() == second_.data()) return traits_type::eof();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return released_; });
        setg(second_.data(), second_.data(), second_.data() + second_.size());
        return second_.empty() ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

private:
    std::string first_, second_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
};

// A stream that throws its text away, counting the lines and the characters
// they take in the message box (each "\n" there is "\r\n").
class CountedOutput {
public:
    CountedOutput() {
        cookie_io_functions_t io{};
        io.write = &CountedOutput::write;
        file_ = fopencookie(this, "w", io);
    }
    ~CountedOutput() { std::fclose(file_); }
    std::FILE *file() { return file_; }

    bool reach(size_t boxChars, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return boxChars_ >= boxChars; });
    }
    size_t lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static ssize_t write(void *cookie, const char *data, size_t size) {
        auto *self = static_cast<CountedOutput *>(cookie);
        size_t newlines = 0;
        for (size_t i = 0; i < size; ++i) newlines += data[i] == '\n';
        std::lock_guard lock(self->mutex_);
        self->boxChars_ += size + newlines;
        self->lines_ += newlines;
        self->changed_.notify_all();
        return static_cast<ssize_t>(size);
    }

    std::FILE *file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t boxChars_ = 0;
    size_t lines_ = 0;
};

}  // namespace testsupport
