// SPDX-License-Identifier: MIT
// Frames in parallel: worker threads, each with a frame store of its own,
// convert the frames ahead of the one being written, worker i frames
// FIRST + i, FIRST + i + workers, and so on; this thread shows and writes
// them strictly in frame order, as one thread would. A worker hands each
// frame over in its slot and goes on with its next one in a second output
// buffer, so that a frame slower than the rest holds up no one; it waits
// only while both its frames wait to be written. When a frame fails,
// nothing after it is shown or written: the workers stop, are joined, and
// the run fails as one thread would.
#include "pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "frame_loop.h"
#include "frame_store.h"
#include "platform.h"

namespace {

constexpr std::size_t SLOT_FRAMES = 2;

struct Slot {
    std::mutex lock;
    std::condition_variable changed;
    bool reserved = false, started = false;
    std::size_t place = 0;  // among the workers that have buffers
    // The frames converted and not yet written, oldest first, in a ring.
    std::size_t waiting = 0, oldest = 0;
    FrameOutcome outcome[SLOT_FRAMES];
    const std::uint8_t* words[SLOT_FRAMES] = {};
};

struct Pipeline {
    const Run* run;
    const FileIdentity* output;
    std::vector<Slot> slots;  // one a worker
    // Shared by every slot: set before each slot's lock is taken to wake it.
    std::atomic<std::size_t> workers {0};  // those that have their buffers
    std::atomic<bool> stop {false};
};

void work(Pipeline& pipeline, Slot& slot)
{
    const bool reserved = reserve_frame_buffers();
    // Without the memory for a second output buffer, the worker waits for
    // each frame to be written before it converts the next.
    std::uint8_t* const buffers[SLOT_FRAMES] = {output_buffer, reserved ? reserve_spare_output() : nullptr};
    const std::size_t depth = buffers[1] != nullptr ? SLOT_FRAMES : 1;
    std::unique_lock<std::mutex> lock(slot.lock);
    slot.reserved = reserved;
    slot.started = true;
    slot.changed.notify_all();
    // The writer numbers the workers once it knows which have buffers.
    slot.changed.wait(lock, [&] { return pipeline.workers != 0 || pipeline.stop; });
    const Run& run = *pipeline.run;
    std::size_t next = 0;  // the buffer the next frame goes to
    for (std::int64_t frame = run.first_frame + static_cast<std::int64_t>(slot.place);
         reserved && frame <= run.last_frame; frame += static_cast<std::int64_t>(pipeline.workers.load())) {
        slot.changed.wait(lock, [&] { return slot.waiting < depth || pipeline.stop; });
        if (pipeline.stop) {
            break;
        }
        lock.unlock();
        output_buffer = buffers[next];
        FrameOutcome outcome = convert_frame(run, *pipeline.output, static_cast<std::int32_t>(frame));
        pass_on_interruptions();
        lock.lock();
        const std::size_t at = (slot.oldest + slot.waiting) % SLOT_FRAMES;
        slot.outcome[at] = std::move(outcome);
        slot.words[at] = buffers[next];
        ++slot.waiting;
        next = (next + 1) % depth;
        slot.changed.notify_all();
    }
    // The writer may still be writing from the buffers.
    slot.changed.wait(lock, [&] { return slot.waiting == 0 || pipeline.stop; });
    lock.unlock();
    output_buffer = buffers[0];
    release_spare_output(buffers[1]);
    release_frame_buffers();
}

void stop_and_join(Pipeline& pipeline, std::vector<std::thread>& threads)
{
    pipeline.stop = true;
    for (Slot& slot : pipeline.slots) {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.changed.notify_all();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace

void convert_frames_in_parallel(const Run& run, const FileIdentity& output)
{
    const std::int64_t frames = std::int64_t {run.last_frame} - run.first_frame + 1;
    if (run.threads <= 1 || frames <= 1) {
        return convert_frames(run, output);
    }
    const std::size_t threads = static_cast<std::size_t>(std::min<std::int64_t>(run.threads, frames));
    Pipeline pipeline {&run, &output, std::vector<Slot>(threads)};
    std::vector<std::thread> workers;
    workers.reserve(threads);
    // As many workers as the system will start, as many as have memory
    // below: none at all is the run on this thread. They are started with
    // the ending signals held, which they keep: only this thread, which
    // writes, handles a signal.
    hold_interruptions();
    for (std::size_t i = 0; i < threads; ++i) {
        try {
            workers.emplace_back(work, std::ref(pipeline), std::ref(pipeline.slots[i]));
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    release_interruptions();
    // Which have their buffers: the workers are numbered among those.
    std::vector<Slot*> order;
    for (std::size_t i = 0; i < workers.size(); ++i) {
        Slot& slot = pipeline.slots[i];
        std::unique_lock<std::mutex> lock(slot.lock);
        slot.changed.wait(lock, [&] { return slot.started; });
        if (slot.reserved) {
            order.push_back(&slot);
        }
    }
    if (order.empty()) {
        stop_and_join(pipeline, workers);
        return convert_frames(run, output);
    }
    // This thread converts nothing from here on: its buffers go back.
    release_frame_buffers();
    for (std::size_t place = 0; place < order.size(); ++place) {
        std::lock_guard<std::mutex> lock(order[place]->lock);
        order[place]->place = place;
    }
    pipeline.workers = order.size();
    for (Slot& slot : pipeline.slots) {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.changed.notify_all();
    }
    for (std::int64_t frame = run.first_frame; frame <= run.last_frame; ++frame) {
        Slot& slot = *order[static_cast<std::size_t>(frame - run.first_frame) % order.size()];
        std::unique_lock<std::mutex> lock(slot.lock);
        slot.changed.wait(lock, [&] { return slot.waiting != 0; });
        // The worker leaves the oldest frame be until it is handed back.
        FrameOutcome& outcome = slot.outcome[slot.oldest];
        const std::uint8_t* words = slot.words[slot.oldest];
        lock.unlock();
        if (!show_and_write(run, static_cast<std::int32_t>(frame), outcome, words)) {
            stop_and_join(pipeline, workers);
            fail_with(outcome);
        }
        lock.lock();
        slot.oldest = (slot.oldest + 1) % SLOT_FRAMES;
        --slot.waiting;
        slot.changed.notify_all();
    }
    stop_and_join(pipeline, workers);
}
