// farm task and join: what the nodes run.
#include <cstdio>
#include <filesystem>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/farm/farm_parts.h"
#include "tools/tilvane/farm/frame_file.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

// The job's request as frozen at submission, for the frames a to b: the
// range and the first file's number are given, so that the settings file's
// own are left alone and every task names its files as one render would.
CheckedRender FrozenRequest(const LoadedPlugin& plugin, const FarmJob& job, int64_t a, int64_t b,
                            std::vector<ControlOption>& controls) {
  RenderArgs args;
  args.settings = job.settings();
  args.frames = std::to_string(a) + "-" + std::to_string(b);
  if (!job.movie) args.startNumber = std::to_string(job.chunks.number(a));
  args.threads = std::to_string(job.framesAtOnce);
  const auto given = [](const std::string& flag) {
    return flag == "--frames" || flag == "--frame" || flag == "--start-number";
  };
  return CheckRender(plugin, args, controls, given);
}

std::pair<int64_t, int64_t> TaskFrames(const FarmJob& job, const std::string& text) {
  const FrameRange& c = job.chunks.frames;
  const std::string what = "a range A-B within the job's frames, " + std::to_string(c.first) + "-" +
                           std::to_string(c.last);
  const size_t dash = text.find('-', 1);
  try {
    size_t end = 0;
    const int64_t a = std::stoll(text.substr(0, dash), &end);
    const bool wholeA = end == dash;
    const int64_t b = std::stoll(text.substr(dash + 1), &end);
    if (dash != std::string::npos && wholeA && end == text.size() - dash - 1 && c.first <= a &&
        a <= b && b <= c.last) {
      return {a, b};
    }
  } catch (const std::exception&) {
  }
  throw UsageError("--frames " + Quoted(text) + " is not valid; give " + what);
}

std::vector<int64_t> MissingIntermediates(const FarmJob& job) {
  std::vector<int64_t> missing;
  std::error_code ec;
  for (int64_t f = job.chunks.frames.first; f <= job.chunks.frames.last; ++f) {
    if (!fs::is_regular_file(job.framePath(f), ec)) missing.push_back(f);
  }
  return missing;
}

}  // namespace

int RunTask(const LoadedPlugin& plugin, const FarmArgs& farm,
            std::vector<ControlOption>& controls) {
  const FarmJob job = FarmJob::Load(farm.dir);
  const auto [a, b] = TaskFrames(job, farm.frames);
  CheckedRender checked = FrozenRequest(plugin, job, a, b, controls);
  const RenderRequest& request = checked.request;
  const RenderPlan& plan = checked.plan;
  if (!job.movie) return Render(*plugin.library, request, plan);
  // A movie's frames wait in the job folder, exactly as rendered, for the join.
  fs::create_directories(job.file("frames"));
  FrameFileSink sink([&](size_t i) { return job.framePath(plan.jobs.frame(i)); });
  const RenderSummary summary =
      RenderFrames(*plugin.library, plan.scene, plan.jobs, request.threads, !request.quiet, &sink);
  std::fprintf(stderr, "tilvane: rendered frames %lld-%lld (%lld) for the join in %.2f s\n",
               static_cast<long long>(a), static_cast<long long>(b),
               static_cast<long long>(summary.frames), summary.seconds);
  return 0;
}

int Join(const LoadedPlugin& plugin, const FarmArgs& farm, std::vector<ControlOption>& controls) {
  const FarmJob job = FarmJob::Load(farm.dir);
  if (!job.movie) {
    throw UsageError("the job in " + Quoted(job.dir) +
                     " writes an image sequence, which its tasks write whole; there is nothing "
                     "to join");
  }
  const std::vector<int64_t> missing = MissingIntermediates(job);
  std::error_code ec;
  const auto frames = static_cast<size_t>(job.chunks.frames.last - job.chunks.frames.first + 1);
  if (job.movieDone() && missing.size() == frames) {
    std::fprintf(stderr, "tilvane: %s is joined already\n", job.output.c_str());
    return 0;
  }
  if (!missing.empty()) {
    throw UsageError("frames " + NumberRanges(Runs(missing)) + " are missing from " +
                     Quoted(job.file("frames")) + "; 'tilvane farm resume " + job.dir +
                     "' renders them again, then joins");
  }
  CheckedRender checked =
      FrozenRequest(plugin, job, job.chunks.frames.first, job.chunks.frames.last, controls);
  const Scene& scene = checked.plan.scene;
  EncodeMovie(checked.request, checked.plan, [&](size_t i) {
    return ReadFrameFile(job.framePath(checked.plan.jobs.frame(i)), scene.width, scene.height,
                         scene.depth);
  });
  // The movie holds them now; they take far more room than it does.
  fs::remove_all(job.file("frames"), ec);
  std::fprintf(stderr, "tilvane: joined frames %lld-%lld into %s\n",
               static_cast<long long>(job.chunks.frames.first),
               static_cast<long long>(job.chunks.frames.last), job.output.c_str());
  return 0;
}

}  // namespace tilvane_tool
