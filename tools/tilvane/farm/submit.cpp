// farm submit and resume: the job folder written, then sbatch.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "src/render/thread_count.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/cli/save_settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/farm/farm_parts.h"
#include "tools/tilvane/farm/programs.h"
#include "tools/tilvane/job/resolved.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

// Folders each machine has its own of: a path there means something else on
// every node.
constexpr const char* kLocalFolders[] = {"/tmp", "/var/tmp", "/dev/shm", "/run"};

std::string Absolute(const std::string& path) {
  return path.empty() ? path : fs::absolute(path).lexically_normal().string();
}

const char* LocalFolderOf(const std::string& path) {
  for (const char* folder : kLocalFolders) {
    const std::string f = folder;
    if (path == f || path.rfind(f + "/", 0) == 0) return folder;
  }
  return nullptr;
}

// The cluster's nodes, as sinfo lists them.
size_t NodeCount() {
  std::set<std::string> nodes;
  std::istringstream lines(RunSlurm({"sinfo", "--noheader", "--format=%n"}));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) nodes.insert(line);
  }
  return nodes.size();
}

// Every path the nodes read or write must mean the same on each of them.
void CheckSharedStorage(const std::vector<std::pair<std::string, std::string>>& paths) {
  std::optional<size_t> nodes;
  for (const auto& [option, path] : paths) {
    const char* folder = LocalFolderOf(path);
    if (!folder) continue;
    if (!nodes) nodes = NodeCount();
    if (*nodes == 1) return;
    throw UsageError(option + " " + Quoted(path) + " is under " + folder +
                     ", which each machine has its own of, and the cluster has " +
                     std::to_string(*nodes) +
                     " nodes: the nodes would not see it. Put it on storage every node mounts");
  }
}

// The memory a task or the join asks for, in MiB, from the tool's peak
// resident size measured with /usr/bin/time -v on frames of 960x540 and
// 1920x1080 (README, "Rendering on a farm"): about 140 MiB whatever the
// size (code, libraries, the plug-in, layer readers), and per pixel of a
// frame rendered at once 24 bytes at 8 bits and 45 at 16 (the layers' and
// the output's pictures, the file being encoded); the join holds the movie
// encoder's frames instead, 80 bytes a pixel at either depth. A quarter
// more is margin for other codecs and icons.
int64_t PeakMemory(int64_t pixels, int64_t bytesPerPixel, int framesAtOnce) {
  const int64_t bytes = (int64_t{140} << 20) + framesAtOnce * pixels * bytesPerPixel;
  return (bytes + bytes / 4 + (int64_t{1} << 20) - 1) >> 20;
}

std::string FirstWord(const std::string& text) {
  std::string id = text.substr(0, text.find_first_of(";\n "));
  return id;
}

// The folder's scripts: Slurm runs one of them on a node, which checks the
// tool and the plug-in are there before running the task's own command.
std::string Script(const FarmJob& job, const std::string& command) {
  std::string s = "#!/bin/sh\n# Written by tilvane farm submit; runs on a node.\n";
  for (const auto& [what, path] :
       {std::pair{"tilvane", job.tool}, {"the Tilvane plug-in", job.plugin}}) {
    s += "if [ ! -e " + ShellQuoted(path) +
         " ]; then\n  echo \"tilvane farm: node $(hostname) has no " + std::string(what) + " at " +
         path +
         "; install the tool (the .deb) on every node, or share its folder\"\n  exit 127\nfi\n";
  }
  return s + command + "\n";
}

void WriteText(const std::string& path, const std::string& text) {
  WriteFileAtomically(path, {text.begin(), text.end()});
}

void WriteScripts(const FarmJob& job) {
  std::string tasks;
  for (size_t i = 0; i < job.chunks.count(); ++i) tasks += job.taskCommand(i) + "\n";
  WriteText(job.file("tasks.txt"), tasks);
  WriteText(job.file("task.sh"),
            Script(job, "line=$(sed -n \"$((SLURM_ARRAY_TASK_ID + 1))p\" " +
                            ShellQuoted(job.file("tasks.txt")) + ")\neval \"exec $line\""));
  if (job.movie) {
    WriteText(job.file("join.txt"), job.joinCommand() + "\n");
    WriteText(job.file("join.sh"), Script(job, "exec " + job.joinCommand()));
  }
}

std::vector<std::string> CommonOptions(const FarmJob& job, int64_t memoryMegabytes) {
  std::vector<std::string> o = {
      "sbatch",
      "--parsable",
      "--requeue",
      "--cpus-per-task=" + std::to_string(job.framesAtOnce * job.threadsPerFrame),
      "--mem=" + std::to_string(memoryMegabytes) + "M",
      "--chdir=" + job.dir};
  if (!job.partition.empty()) o.push_back("--partition=" + job.partition);
  return o;
}

// The threads each frame of a task renders on: the user's TILVANE_THREADS
// when set, read by the plug-in's own rule, else one, so that a node runs a
// task a core.
int TaskThreadsPerFrame() {
  const char* given = std::getenv("TILVANE_THREADS");
  if (!given || !*given) return 1;
  const std::optional<int> n = tilvane::ParseThreadCount(given);
  if (!n || *n == 0) {
    // 0 (every core) is a count Slurm cannot be asked to reserve.
    throw UsageError("TILVANE_THREADS '" + std::string(given) +
                     "' is not a number of threads a task can ask Slurm for; give a whole "
                     "number from 1 to " +
                     std::to_string(tilvane::kMaxRenderThreads) +
                     ", or unset it for one thread a frame");
  }
  return *n;
}

}  // namespace

void SubmitChunks(FarmJob& job, const std::vector<size_t>& chunks) {
  Submission s;
  s.chunks = chunks;
  if (!chunks.empty()) {
    std::vector<std::string> a = CommonOptions(job, job.memoryMegabytes);
    std::string array = "--array=" + ArrayIndices(chunks);
    if (job.maxRunning > 0) array += "%" + std::to_string(job.maxRunning);
    a.push_back(array);
    a.push_back("--job-name=" + job.name);
    a.push_back("--output=" + job.file("logs/task-%a-job-%A.log"));
    a.push_back(job.file("task.sh"));
    s.array = FirstWord(RunSlurm(a));
  }
  if (job.movie) {
    std::vector<std::string> a = CommonOptions(job, job.joinMemoryMegabytes);
    if (!s.array.empty()) {
      a.push_back("--dependency=afterok:" + s.array);
      a.push_back("--kill-on-invalid-dep=yes");
    }
    a.push_back("--job-name=" + job.name + "-join");
    a.push_back("--output=" + job.file("logs/join-job-%j.log"));
    a.push_back(job.file("join.sh"));
    try {
      s.join = FirstWord(RunSlurm(a));
    } catch (const UsageError&) {
      // The tasks are in: keep their ids, so that wait and resume find them.
      job.submissions.push_back(s);
      job.save();
      throw;
    }
  }
  job.submissions.push_back(s);
  job.save();
}

int Submit(const LoadedPlugin& plugin, const CLI::App& submit, const FarmArgs& farm,
           RenderArgs& args, std::vector<ControlOption>& controls) {
  // Nodes run in other working folders: every name the job holds is absolute.
  if (!args.settings.empty()) args.settings = Absolute(args.settings);
  for (std::string* path : {&args.icon, &args.displacement}) *path = Absolute(*path);
  if (!args.output.empty() && args.output != "-") args.output = Absolute(args.output);
  const auto given = [&](const std::string& flag) { return submit.count(flag) > 0; };
  const int threadsPerFrame = TaskThreadsPerFrame();
  // Each task renders this many frames at once; the default is one.
  if (args.threads.empty()) args.threads = "1";
  const auto beforePlan = [&](const RenderRequest& request) {
    if (request.stream) {
      throw UsageError(
          "-o - writes to standard output, which a farm's tasks do not share; give a numbered "
          "image name (out.####.png) or a movie");
    }
    if (!request.movie && !request.pattern) {
      throw UsageError("-o " + Quoted(request.output) +
                       " is one image; a farm splits a range: put #### or %04d in the name "
                       "(out.####.png), or give a movie");
    }
    const std::string dir =
        Absolute(farm.jobDir.empty() ? DefaultJobDir(request.output) : farm.jobDir);
    CheckSharedStorage({{"--icon", Absolute(request.icon)},
                        {"--displacement", Absolute(request.displacement)},
                        {"-o", Absolute(request.output)},
                        {"--job-dir", dir}});
    if (fs::exists(dir + "/job.json")) {
      throw UsageError("--job-dir " + Quoted(dir) + " holds a job already; 'tilvane farm resume " +
                       dir +
                       "' renders what it is missing, or remove the folder, or give another "
                       "--job-dir");
    }
  };
  CheckedRender checked = CheckRender(plugin, args, controls, given, beforePlan);
  for (std::string* path : {&args.icon, &args.displacement, &args.output}) *path = Absolute(*path);
  const RenderRequest& request = checked.request;
  const RenderPlan& plan = checked.plan;
  FarmJob job;
  job.dir = Absolute(farm.jobDir.empty() ? DefaultJobDir(request.output) : farm.jobDir);
  job.tool = fs::read_symlink("/proc/self/exe").string();
  job.plugin = Absolute(plugin.path);
  job.output = request.output;
  job.movie = request.movie;
  const FrameRange frames = plan.timing.frames;
  job.chunks = {frames, farm.chunk ? farm.chunk : DefaultChunkSize(frames.size()),
                plan.jobs.firstNumber};
  job.framesAtOnce = request.threads;
  job.threadsPerFrame = threadsPerFrame;
  const int64_t pixels = int64_t{plan.scene.width} * plan.scene.height;
  job.memoryMegabytes = PeakMemory(pixels, plan.scene.depth == 16 ? 45 : 24, job.framesAtOnce);
  job.joinMemoryMegabytes = job.movie ? PeakMemory(pixels, 80, 1) : 0;
  job.partition = farm.partition;
  job.name = farm.jobName.empty() ? "tilvane-" + fs::path(DefaultJobDir(job.output)).stem().string()
                                  : farm.jobName;
  job.maxRunning = static_cast<int>(farm.maxRunning);
  try {
    fs::create_directories(job.file("logs"));
    if (job.movie) fs::create_directories(job.file("frames"));
  } catch (const fs::filesystem_error& e) {
    throw WriteError("--job-dir " + Quoted(job.dir) + " cannot be made (" + e.code().message() +
                     "); give a folder you may write, on storage every node mounts");
  }
  // The request as resolved, written by the tool's own settings writer, so
  // that later edits of the user's files change nothing here.
  if (!args.saveSettings.empty()) {
    SaveSettings(args, request, ResolvedOf(plan), controls, EffectVersion(plugin), given);
  }
  // Every value pinned: a node takes what this machine resolved, not what
  // the layers might derive there.
  args.saveSettings = job.settings();
  SaveSettings(args, request, ResolvedOf(plan), controls, EffectVersion(plugin),
               [](const std::string&) { return true; });
  WriteScripts(job);
  std::vector<size_t> all(job.chunks.count());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  SubmitChunks(job, all);
  std::fprintf(
      stderr, "tilvane: submitted %s: frames %lld-%lld in %zu task%s of up to %lld frames%s\n",
      job.name.c_str(), static_cast<long long>(job.chunks.frames.first),
      static_cast<long long>(job.chunks.frames.last), all.size(), all.size() == 1 ? "" : "s",
      static_cast<long long>(job.chunks.size), job.movie ? ", then the join" : "");
  std::printf("%s\n", job.dir.c_str());
  return 0;
}

int Resume(const FarmArgs& farm) {
  FarmJob job = FarmJob::Load(farm.dir);
  if (const auto queued = Queued(job); !queued.empty()) {
    throw UsageError("the job in " + Quoted(job.dir) + " still has task " + queued.front().id +
                     " " + Lower(queued.front().state) +
                     "; wait for it ('tilvane farm wait') or cancel it (scancel), then resume");
  }
  const std::vector<int64_t> missing = job.missingFrames();
  const std::vector<size_t> chunks = ChunksHolding(job.chunks, missing);
  if (chunks.empty() && (!job.movie || job.movieDone())) {
    std::fprintf(stderr, "tilvane: every frame of the job is on disk; nothing to submit\n");
  } else {
    SubmitChunks(job, chunks);
    if (chunks.empty()) {
      std::fprintf(stderr, "tilvane: every frame is rendered; submitted the join\n");
    } else {
      std::fprintf(stderr, "tilvane: submitted %zu task%s for frames %s%s\n", chunks.size(),
                   chunks.size() == 1 ? "" : "s", NumberRanges(Runs(missing)).c_str(),
                   job.movie ? ", then the join" : "");
    }
  }
  std::printf("%s\n", job.dir.c_str());
  return 0;
}

}  // namespace tilvane_tool
