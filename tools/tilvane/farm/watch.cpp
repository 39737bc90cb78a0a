// farm wait and status: the outputs on disk are the truth; Slurm's word says
// what became of the tasks that did not write theirs.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/farm/farm_parts.h"
#include "tools/tilvane/farm/programs.h"

namespace tilvane_tool {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// key=value words of a line of `scontrol --oneliner show job`.
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return fields;
}

// "3", "0-4", "2-4%1", "1,3-5": the task indices of a line.
std::vector<size_t> Indices(std::string text) {
  std::vector<size_t> indices;
  text = text.substr(0, text.find('%'));
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, ',');) {
    try {
      const size_t dash = part.find('-');
      const size_t a = std::stoul(part.substr(0, dash));
      const size_t b = dash == std::string::npos ? a : std::stoul(part.substr(dash + 1));
      for (size_t i = a; i <= b && i - a < 1'000'000; ++i) indices.push_back(i);
    } catch (const std::exception&) {
    }
  }
  return indices;
}

struct TaskState {
  std::string state;  // Slurm's JobState; "" when it no longer knows the task
  std::string exit;   // ExitCode, "127:0"
};

// What Slurm still knows of an array's tasks, by index: scontrol keeps a
// job for MinJobAge after it ends.
std::map<size_t, TaskState> ArrayStates(const std::string& array) {
  std::map<size_t, TaskState> states;
  const ProgramResult r = RunProgram({"scontrol", "--oneliner", "show", "job", array});
  if (r.status != 0) return states;
  for (const std::string& line : Lines(r.out)) {
    auto f = Fields(line);
    for (const size_t i : Indices(f["ArrayTaskId"])) states[i] = {f["JobState"], f["ExitCode"]};
  }
  return states;
}

std::string JoinState(const std::string& join) {
  const ProgramResult r = RunProgram({"scontrol", "--oneliner", "show", "job", join});
  if (r.status != 0) return "";
  for (const std::string& line : Lines(r.out)) return Fields(line)["JobState"];
  return "";
}

std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string last;
  for (std::string line; std::getline(in, line);) {
    // The progress bar redraws with carriage returns; its last drawing counts.
    const size_t cr = line.find_last_of('\r', line.size() > 1 ? line.size() - 2 : 0);
    if (cr != std::string::npos && cr + 1 < line.size()) line = line.substr(cr + 1);
    if (line.find_first_not_of(" \r\t") != std::string::npos) last = line;
  }
  while (!last.empty() && (last.back() == '\r' || last.back() == ' ')) last.pop_back();
  return last;
}

struct Report {
  std::vector<int64_t> missing;
  bool complete = false;
  std::vector<std::string> lines;     // status: every task
  std::vector<std::string> problems;  // wait: what is wrong
};

Report Look(const FarmJob& job) {
  Report report;
  report.missing = job.missingFrames();
  const int64_t total = job.chunks.frames.last - job.chunks.frames.first + 1;
  const int64_t done = total - static_cast<int64_t>(report.missing.size());
  report.complete = report.missing.empty() && (!job.movie || job.movieDone());
  std::string head =
      job.dir + ": " + std::to_string(done) + " of " + std::to_string(total) + " frames on disk";
  if (!report.missing.empty()) head += "; missing " + NumberRanges(Runs(report.missing));
  report.lines.push_back(head);
  // The submission that last ran each chunk, and what Slurm says of it.
  std::map<size_t, std::string> arrayOf;
  for (const Submission& s : job.submissions) {
    for (const size_t c : s.chunks) arrayOf[c] = s.array;
  }
  std::map<std::string, std::map<size_t, TaskState>> states;
  for (const auto& [chunk, array] : arrayOf) {
    if (!states.count(array)) states[array] = ArrayStates(array);
  }
  for (size_t c = 0; c < job.chunks.count(); ++c) {
    const auto [a, b] = job.chunks.range(c);
    std::vector<int64_t> missing;
    for (const int64_t f : report.missing) {
      if (f >= a && f <= b) missing.push_back(f);
    }
    const std::string array = arrayOf.count(c) ? arrayOf[c] : "";
    const TaskState state = array.empty() ? TaskState{} : states[array][c];
    std::string line = "task " + std::to_string(c) + " (frames " + std::to_string(a) + "-" +
                       std::to_string(b) + "): ";
    line += !state.state.empty() ? state.state : missing.empty() ? "done" : "ended";
    if (!state.exit.empty() && state.exit != "0:0") line += ", exit " + state.exit;
    if (!missing.empty()) {
      line += "; missing " + NumberRanges(Runs(missing));
      if (!array.empty()) {
        const std::string log = job.taskLog(c, array);
        const std::string last = LastLine(log);
        line += "; log " + log + (last.empty() ? "" : ": " + last);
      }
      const bool running = state.state == "PENDING" || state.state == "RUNNING" ||
                           state.state == "REQUEUED" || state.state == "CONFIGURING";
      if (!running) report.problems.push_back(line);
    }
    report.lines.push_back(line);
  }
  if (job.movie) {
    std::string join;
    for (const Submission& s : job.submissions) {
      if (!s.join.empty()) join = s.join;
    }
    std::string line = "join: ";
    if (job.movieDone()) {
      line += job.output + " on disk";
    } else {
      const std::string state = join.empty() ? "" : JoinState(join);
      line += (state.empty() ? "ended" : state) + ", " + job.output + " not written";
      if (!join.empty()) {
        const std::string last = LastLine(job.joinLog(join));
        line += "; log " + job.joinLog(join) + (last.empty() ? "" : ": " + last);
      }
      if (report.missing.empty()) report.problems.push_back(line);
    }
    report.lines.push_back(line);
  }
  return report;
}

}  // namespace

std::vector<QueuedTask> Queued(const FarmJob& job) {
  const std::string out =
      RunSlurm({"squeue", "--me", "--noheader", "--array", "--format=%i|%T|%r"});
  std::vector<QueuedTask> queued;
  for (const std::string& line : Lines(out)) {
    std::vector<std::string> parts;
    std::istringstream in(line);
    for (std::string part; std::getline(in, part, '|');) parts.push_back(part);
    if (parts.size() < 3) continue;
    const std::string& id = parts[0];
    for (const Submission& s : job.submissions) {
      const bool task = !s.array.empty() && id.rfind(s.array + "_", 0) == 0;
      // A join whose tasks failed waits for ever unless Slurm kills it.
      const bool join = !s.join.empty() && id == s.join && parts[2] != "DependencyNeverSatisfied";
      if (task || join) queued.push_back({id, parts[1], parts[2]});
    }
  }
  return queued;
}

int Wait(const FarmArgs& farm) {
  const FarmJob job = FarmJob::Load(farm.dir);
  while (!Queued(job).empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(farm.intervalMilliseconds));
  }
  const Report report = Look(job);
  if (report.complete) {
    std::fprintf(stderr, "tilvane: every frame of %s is on disk\n",
                 job.movie ? job.output.c_str() : job.dir.c_str());
    return 0;
  }
  if (!report.missing.empty()) {
    std::fprintf(stderr, "tilvane: frames %s are missing; 'tilvane farm resume %s' renders them\n",
                 NumberRanges(Runs(report.missing)).c_str(), job.dir.c_str());
  }
  for (const std::string& line : report.problems)
    std::fprintf(stderr, "tilvane: %s\n", line.c_str());
  return kExitIncomplete;
}

int Status(const FarmArgs& farm) {
  const FarmJob job = FarmJob::Load(farm.dir);
  const Report report = Look(job);
  for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
  return report.complete ? 0 : kExitIncomplete;
}

}  // namespace tilvane_tool
