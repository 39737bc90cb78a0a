#include "tools/tilvane/farm/job_folder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kJobFile = "job.json";

std::string Padded(int64_t n, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*lld", width, static_cast<long long>(n));
  return text;
}

}  // namespace

std::string ShellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string DefaultJobDir(const std::string& output) {
  const fs::path path = fs::absolute(output).lexically_normal();
  // A movie keeps its extension, so that a sequence and a movie of one name
  // each have their own folder.
  std::string stem = path.filename().string();
  if (const auto pattern = FramePattern::Find(stem)) stem = pattern->prefix;
  while (!stem.empty() && (stem.back() == '.' || stem.back() == '_' || stem.back() == '-')) {
    stem.pop_back();
  }
  return (path.parent_path() / ((stem.empty() ? "tilvane" : stem) + ".farm")).string();
}

std::string FarmJob::file(const std::string& name) const { return (fs::path(dir) / name).string(); }

std::string FarmJob::framePath(int64_t frame) const {
  return file("frames/" + Padded(frame, 9) + ".frame");
}

std::string FarmJob::outputPath(int64_t frame) const {
  const auto pattern = FramePattern::Find(output);
  return pattern ? pattern->name(chunks.number(frame)) : output;
}

std::string FarmJob::taskLog(size_t chunk, const std::string& arrayId) const {
  return file("logs/task-" + std::to_string(chunk) + "-job-" + arrayId + ".log");
}

std::string FarmJob::joinLog(const std::string& joinId) const {
  return file("logs/join-job-" + joinId + ".log");
}

std::string FarmJob::taskCommand(size_t chunk) const {
  const auto [a, b] = chunks.range(chunk);
  return "env TILVANE_THREADS=" + std::to_string(threadsPerFrame) + " " + ShellQuoted(tool) +
         " --plugin " + ShellQuoted(plugin) + " farm task " + ShellQuoted(dir) + " --frames " +
         std::to_string(a) + "-" + std::to_string(b);
}

std::string FarmJob::joinCommand() const {
  return ShellQuoted(tool) + " --plugin " + ShellQuoted(plugin) + " farm join " + ShellQuoted(dir);
}

bool FarmJob::movieDone() const {
  std::error_code ec;
  return movie && fs::is_regular_file(output, ec);
}

std::vector<int64_t> FarmJob::missingFrames() const {
  std::vector<int64_t> missing;
  if (movieDone()) return missing;
  std::error_code ec;
  for (int64_t f = chunks.frames.first; f <= chunks.frames.last; ++f) {
    if (!fs::is_regular_file(movie ? framePath(f) : outputPath(f), ec)) missing.push_back(f);
  }
  return missing;
}

void FarmJob::save() const {
  json j;
  j["tool"] = tool;
  j["plugin"] = plugin;
  j["output"] = output;
  j["movie"] = movie;
  j["first"] = chunks.frames.first;
  j["last"] = chunks.frames.last;
  j["chunk"] = chunks.size;
  j["firstNumber"] = chunks.firstNumber;
  j["framesAtOnce"] = framesAtOnce;
  j["threadsPerFrame"] = threadsPerFrame;
  j["memoryMegabytes"] = memoryMegabytes;
  j["joinMemoryMegabytes"] = joinMemoryMegabytes;
  j["partition"] = partition;
  j["name"] = name;
  j["maxRunning"] = maxRunning;
  json subs = json::array();
  for (const Submission& s : submissions) {
    subs.push_back({{"array", s.array}, {"chunks", s.chunks}, {"join", s.join}});
  }
  j["submissions"] = subs;
  const std::string text = j.dump(2) + "\n";
  WriteFileAtomically(file(kJobFile), {text.begin(), text.end()});
}

FarmJob FarmJob::Load(const std::string& dir) {
  FarmJob job;
  job.dir = fs::absolute(dir).lexically_normal().string();
  while (job.dir.size() > 1 && job.dir.back() == '/') job.dir.pop_back();
  std::ifstream in(job.file(kJobFile));
  if (!in) {
    throw UsageError(Quoted(dir) + " holds no farm job (no " + kJobFile +
                     "); give the folder 'tilvane farm submit' printed");
  }
  try {
    const json j = json::parse(in);
    job.tool = j.at("tool");
    job.plugin = j.at("plugin");
    job.output = j.at("output");
    job.movie = j.at("movie");
    job.chunks = {{j.at("first"), j.at("last")}, j.at("chunk"), j.at("firstNumber")};
    job.framesAtOnce = j.at("framesAtOnce");
    job.threadsPerFrame = j.at("threadsPerFrame");
    job.memoryMegabytes = j.at("memoryMegabytes");
    job.joinMemoryMegabytes = j.at("joinMemoryMegabytes");
    job.partition = j.at("partition");
    job.name = j.at("name");
    job.maxRunning = j.at("maxRunning");
    for (const json& s : j.at("submissions")) {
      job.submissions.push_back({s.at("array"), s.at("chunks"), s.at("join")});
    }
  } catch (const json::exception& e) {
    throw UsageError(Quoted(job.file(kJobFile)) + " cannot be read (" + e.what() +
                     "); it is written by 'tilvane farm submit', submit the job again");
  }
  if (job.chunks.size < 1 || job.chunks.frames.last < job.chunks.frames.first) {
    throw UsageError(Quoted(job.file(kJobFile)) + " has no frames; submit the job again");
  }
  return job;
}

}  // namespace tilvane_tool
