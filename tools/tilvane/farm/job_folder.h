// A farm job's folder: what the job is (job.json), the request frozen as a
// settings file (request.json), the command each task runs (tasks.txt, one
// line a chunk, and join.txt), the scripts Slurm runs (task.sh, join.sh), the
// tasks' logs (logs/) and a movie's intermediate frames (frames/). Every path
// in it is absolute, so that any node that mounts the folder can run a task.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/farm/chunks.h"

namespace tilvane_tool {

// One sbatch of the job's tasks: the array's job id, the chunks it ran
// (array indices are chunk numbers) and the join's job id ("" none).
struct Submission {
  std::string array;
  std::vector<size_t> chunks;
  std::string join;
};

struct FarmJob {
  std::string dir;
  std::string tool;    // the tilvane each task runs
  std::string plugin;  // the plug-in it loads
  std::string output;  // a numbered image name or a movie
  bool movie = false;
  Chunks chunks;
  int framesAtOnce = 1;             // --threads of each task
  int threadsPerFrame = 1;          // TILVANE_THREADS of each task
  int64_t memoryMegabytes = 0;      // --mem of each task
  int64_t joinMemoryMegabytes = 0;  // --mem of the join
  std::string partition;            // "" the cluster's default
  std::string name;
  int maxRunning = 0;  // 0: no limit
  std::vector<Submission> submissions;

  std::string file(const std::string& name) const;  // dir/name
  std::string settings() const { return file("request.json"); }
  // A movie's intermediate frame, by absolute frame number.
  std::string framePath(int64_t frame) const;
  // An image sequence's file for a frame.
  std::string outputPath(int64_t frame) const;
  // Where Slurm writes a task's log for this array job id (%a and %A).
  std::string taskLog(size_t chunk, const std::string& arrayId) const;
  std::string joinLog(const std::string& joinId) const;
  // The command a task runs for one chunk, every path absolute and quoted
  // for the shell: a plain command any farm manager can run.
  std::string taskCommand(size_t chunk) const;
  std::string joinCommand() const;

  // Frames whose output (a sequence's file, or a movie's intermediate frame
  // when the movie is not there yet) is missing, in order; none when the
  // movie is on disk.
  std::vector<int64_t> missingFrames() const;
  // The movie is written.
  bool movieDone() const;

  // Writes job.json as images are written (whole or not at all).
  void save() const;
  // Reads DIR/job.json. Throws UsageError naming the folder when it holds no job.
  static FarmJob Load(const std::string& dir);
};

// A word for a POSIX shell: 'it', quotes inside escaped.
std::string ShellQuoted(const std::string& word);

// The job folder beside an output when --job-dir is not given: out.####.png
// makes out.farm and out.mov out.mov.farm, in the output's folder.
std::string DefaultJobDir(const std::string& output);

}  // namespace tilvane_tool
