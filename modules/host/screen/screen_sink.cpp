// The screen service: a flush copies the visible frame into a back buffer and
// counts it; a writer thread of its own (never the flushing task) takes the
// latest frame at most every kMinWriteInterval and turns it into
// "screen.png" of the device folder when it changed, so a person can watch
// the display with an image viewer. A flush wakes the writer only when it
// waits for a frame: while it keeps the rate limit, flushes cost the copy
// alone, whether the picture changes or not.
#include "host/screen/display_regs.h"
#include "host/screen/frame_words.h"
#include "host/kernel/kernel_internal.h"
#include "host/screen/screen_png.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMinWriteInterval = std::chrono::milliseconds(500);
constexpr int kMaxSide = 4096;

struct Screen {
    std::mutex mx;
    std::condition_variable cv;        // a new frame, a written frame, or stop
    FrameWords back;                   // width x height, packed rows
    int width = 0, height = 0;
    uint64_t flushed = 0;
    uint64_t written = 0;
    // A stop writes the frames flushed before it and ends the writer. `writer`
    // is only touched under mx: a flush starts it, a stop moves it out and
    // joins it unlocked. Flushes during a stop start no writer (it would see
    // the stop and end at once); the stop starts a fresh one for them after
    // the join.
    bool stop = false;
    uint64_t stopAt = 0;               // the frame the stopping writer ends with
    bool writerEnded = false;          // the stopping writer is done
    bool writerWaits = false;          // the writer sleeps until the next flush
    std::thread writer;
    // A stop with a time limit does not wait for a writer still inside a
    // frame (a slow drive, a writer that gets no CPU): that writer ends after
    // its frame, and until then no other one starts (they would share the
    // temporary file). An unlimited stop waits for it too.
    bool leaveFrame = false;           // the writer left behind ends after its frame
    bool leftRunning = false;
    std::thread left;
    ScreenSink sink;

    ~Screen() { stopWriter(false, -1); }

    // Starts the writer thread; mx held.
    void startWriter() { writer = std::thread([this] { run(); }); }

    bool mayStartWriter() const { return !writer.joinable() && !stop && !leftRunning; }

    // Waits for pred until the deadline (none: for good); mx held through lk.
    template <class Pred>
    bool waitFor(std::unique_lock<std::mutex>& lk, bool bounded, Clock::time_point until, Pred pred) {
        if (!bounded) {
            cv.wait(lk, pred);
            return true;
        }
        return cv.wait_until(lk, until, pred);
    }

    // False when the writer was still inside a frame at the limit (limitMs
    // < 0: no limit): it is left to end after that frame.
    bool stopWriter(bool restart, int limitMs) {
        const bool bounded = limitMs >= 0;
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(bounded ? limitMs : 0);
        std::unique_lock<std::mutex> lk(mx);
        if (!waitFor(lk, bounded, until, [&] { return !stop; })) return false;   // one stop at a time
        if (!bounded) {
            cv.wait(lk, [&] { return !leftRunning; });
            std::thread ended = std::move(left);
            lk.unlock();
            if (ended.joinable()) ended.join();
            lk.lock();
        }
        // frames flushed while a writer left behind ran have none yet
        if (flushed > written && mayStartWriter()) startWriter();
        stop = true;
        stopAt = flushed;
        writerEnded = false;
        const bool running = writer.joinable();
        cv.notify_all();
        const bool ended = running ? waitFor(lk, bounded, until, [&] { return writerEnded; }) : !leftRunning;
        std::thread ending = std::move(writer);
        std::thread gone;
        if (running && !ended) {
            // (the one left before has ended: no writer started while it ran)
            gone = std::move(left);
            left = std::move(ending);
            leaveFrame = true;
            leftRunning = true;
        }
        lk.unlock();
        if (ending.joinable()) ending.join();
        if (gone.joinable()) gone.join();
        lk.lock();
        stop = false;
        if (restart && flushed > written && mayStartWriter()) startWriter();   // flushed during the stop
        lk.unlock();
        cv.notify_all();
        return ended;
    }

    // A drive that refuses screen.png (full, read-only) is said on stderr
    // once a spell, not at every frame; and when it is written again.
    bool refused = false;   // the writer thread's own

    void writeFrame(const FrameWords& frame, int w, int h) {
        // written through the working directory, named in the folder's path
        const std::string path = inDeviceFolder("screen.png"), shown = deviceFolder() + "/screen.png";
        std::string problem;
        const bool ok = detail::writeScreenPng(path, frame.data(), w, h, &problem);
        if (problem.compare(0, path.size(), path) == 0) problem.replace(0, path.size(), shown);
        if (!ok && !refused)
            std::fprintf(stderr, "screen: %s: the picture stays as it was until it can be written\n", problem.c_str());
        else if (ok && refused)
            std::fprintf(stderr, "screen: %s is written again\n", shown.c_str());
        refused = !ok;
    }

    void run() {
        // The thread inherits the policy of the task whose flush started it
        // (a real-time one under real-time scheduling): encoding is ordinary
        // background work and never takes a task's priority or name.
        becomeBackgroundThread("kScreenPng");
        FrameWords last, frame;
        int lastW = 0, lastH = 0;
        Clock::time_point lastTake{};
        std::unique_lock<std::mutex> lk(mx);
        for (;;) {
            writerWaits = true;
            cv.wait(lk, [&] { return stop || leaveFrame || flushed > written; });
            writerWaits = false;
            if (leaveFrame) return endLeftBehind();
            if (stop && written >= stopAt) {   // what the stop waits for is written
                writerEnded = true;
                cv.notify_all();
                return;
            }
            // keep the rate limit, but a stop writes the pending frame at once
            cv.wait_until(lk, lastTake + kMinWriteInterval, [&] { return stop || leaveFrame; });
            if (leaveFrame) return endLeftBehind();
            lastTake = Clock::now();
            uint64_t number = flushed;
            int w = width, h = height;
            // the next flush refills the whole back buffer: take it as it is
            frame.swap(back);
            lk.unlock();
            displayApplyPanel(frame.data(), frame.size());   // the panel's light and saturation
            if (w != lastW || h != lastH || frame != last) {
                writeFrame(frame, w, h);
                last.swap(frame);
                lastW = w;
                lastH = h;
            }
            lk.lock();
            written = number;
            cv.notify_all();
        }
    }

    // Joins the writer a stop left behind once it has ended its frame (it
    // only returns after that): a thread ended but never joined is a leak to
    // whoever counts them at the process's end. One still in its frame is
    // left as it is.
    void joinLeftIfEnded() {
        std::unique_lock<std::mutex> lk(mx);
        if (leftRunning || !left.joinable()) return;
        std::thread ended = std::move(left);
        lk.unlock();
        ended.join();
    }

    // The writer a stop left behind ends after its frame; mx held.
    void endLeftBehind() {
        leaveFrame = false;
        leftRunning = false;
        cv.notify_all();
    }
};

Screen& screen() {
    static Screen s;
    return s;
}

}  // namespace

void setScreenSink(ScreenSink sink) {
    Screen& s = screen();
    std::lock_guard<std::mutex> lk(s.mx);
    s.sink = std::move(sink);
}

int screenFlush(const uint32_t* pixels, int width, int height, int strideWords) {
    if (!pixels || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        strideWords < width)
        return -1;
    Screen& s = screen();
    ScreenSink sink;
    bool wake;
    {
        std::lock_guard<std::mutex> lk(s.mx);
        s.back.resize(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            std::memcpy(&s.back[static_cast<size_t>(y) * width], pixels + static_cast<size_t>(y) * strideWords,
                        sizeof(uint32_t) * width);
        s.width = width;
        s.height = height;
        ++s.flushed;
        if (s.mayStartWriter()) s.startWriter();
        sink = s.sink;
        wake = s.writerWaits;
    }
    if (wake) s.cv.notify_all();
    if (sink) sink(pixels, width, height, strideWords);
    return 0;
}

int screenWaitFlush() { return 0; }

uint64_t screenFrameNumber() {
    Screen& s = screen();
    std::lock_guard<std::mutex> lk(s.mx);
    return s.flushed;
}

uint64_t screenWrittenFrame() {
    Screen& s = screen();
    std::lock_guard<std::mutex> lk(s.mx);
    return s.written;
}

bool waitScreenFrame(uint64_t frameNumber, int timeoutMs) {
    Screen& s = screen();
    std::unique_lock<std::mutex> lk(s.mx);
    auto done = [&] { return s.written >= frameNumber; };
    if (timeoutMs < 0) {
        s.cv.wait(lk, done);
        return true;
    }
    return s.cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), done);
}

bool screenStop(int limitMs) { return screen().stopWriter(true, limitMs); }

void screenJoinEnded() { screen().joinLeftIfEnded(); }

namespace detail {
void resetScreen() {
    Screen& s = screen();
    s.stopWriter(false, -1);
    std::lock_guard<std::mutex> lk(s.mx);
    s.back.clear();
    s.width = s.height = 0;
    s.flushed = s.written = 0;
    s.sink = nullptr;
}
}  // namespace detail

}  // namespace host
