// The threads a run renders on: frames at once, each on its own host, and
// threads per frame, which each frame's host hands the plug-in with every
// render (standin::Host::setRenderThreads); nothing goes through the
// environment.
#pragma once

#include <cstddef>
#include <string>

namespace tilvane_tool {

// Frames rendered at once when --threads is not given: one per core.
int DefaultFrameThreads();

// The frames rendered at once: the threads asked for, at most one per frame.
int FramesAtOnce(int threads, size_t frames);

// The threads each frame renders on: the user's TILVANE_THREADS when set,
// read by the plug-in's own rule (tilvane::ParseThreadCount; 0: one per
// core), else the cores shared among the frames rendered at once, so that
// one frame at a time renders on all of them. Throws UsageError for a
// TILVANE_THREADS that is not a number of threads.
int ThreadsPerFrame(int framesAtOnce);

// The vector path and threads the plug-in takes for a frame rendered on
// `threadsPerFrame` threads: its own reading of this CPU and of TILVANE_SIMD.
std::string PathAndThreads(int threadsPerFrame);

}  // namespace tilvane_tool
