// The part of a measurement file the reader is at: bytes taken from a
// source a chunk at a time and kept only until the reader has passed them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "logging/format/meas_file_reader.h"

class MeasFileWindow {
public:
    MeasFileWindow(MeasFileSource& source, size_t chunk) : source_(source), chunk_(chunk ? chunk : 1) {}

    // Makes n bytes from the reader's offset available at data(); false
    // when the file ends (or cannot be read any further) before. The buffer
    // grows to the largest n asked for and one chunk, no further.
    bool need(size_t n) {
        while (available() < n && !ended_) {
            if (head_ > 0) {   // what was passed goes, the rest moves to the front
                std::memmove(buf_.data(), buf_.data() + head_, available());
                tail_ -= head_;
                head_ = 0;
            }
            if (buf_.size() < tail_ + chunk_) buf_.resize(tail_ + chunk_);
            const long got = source_.read(buf_.data() + tail_, chunk_, why_);
            if (got < 0) failed_ = true;
            if (got <= 0) ended_ = true;
            else tail_ += size_t(got);
        }
        return available() >= n;
    }
    const uint8_t* data() const { return buf_.data() + head_; }
    size_t available() const { return tail_ - head_; }
    // Passes n bytes of what need() made available.
    void take(size_t n) {
        head_ += n;
        offset_ += n;
    }
    // Passes n bytes without keeping them; false when the file ends first.
    bool skip(uint64_t n) {
        while (n > 0) {
            if (available() == 0 && !need(1)) return false;
            const size_t step = size_t(std::min<uint64_t>(n, available()));
            take(step);
            n -= step;
        }
        return true;
    }
    size_t offset() const { return offset_; }                  // in the file, of data()
    size_t length() const { return offset_ + available(); }    // bytes taken from the source
    bool failed() const { return failed_; }
    const std::string& why() const { return why_; }

private:
    MeasFileSource& source_;
    const size_t chunk_;
    std::vector<uint8_t> buf_;
    size_t head_ = 0, tail_ = 0;   // the bytes not passed yet
    size_t offset_ = 0;
    bool ended_ = false, failed_ = false;
    std::string why_;
};
