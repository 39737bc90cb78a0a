// The threads a run renders on: frames at once, each on its own host, and
// threads per frame, which reach the plug-in as TILVANE_THREADS (it reads the
// variable at every render, as in a real host).
#pragma once

#include <cstddef>
#include <string>

namespace tilvane_tool {

// Frames rendered at once when --threads is not given: one per core.
int DefaultFrameThreads();

// The frames rendered at once: the threads asked for, at most one per frame.
int FramesAtOnce(int threads, size_t frames);

// Fixes the threads each frame renders on for the whole run: the user's own
// TILVANE_THREADS when set, else the cores shared among the frames rendered
// at once, so that one frame at a time renders on all of them. The
// environment may not change while other threads run: call this once, before
// the process starts any thread. Throws UsageError for a TILVANE_THREADS the
// plug-in could not read.
void FixThreadsPerFrame(int framesAtOnce);

// The vector path and threads the plug-in takes for a frame here: its own
// reading of this CPU and of TILVANE_SIMD and TILVANE_THREADS.
std::string PathAndThreads();

}  // namespace tilvane_tool
