// Times the tilvane tool on whole jobs beside an I/O-only baseline measured in
// the same run: the same layer frames decoded and the same output frames
// encoded and written, with OpenImageIO as the tool uses it, and no effect.
// The baseline runs twice: as a process of its own (this program started
// again with --io-only), which like the tool pays for loading OpenImageIO and
// its libraries, and inside this process, which does not. Prints frames per
// second of each and the ratios; the start-up of each process; then the
// default job with one frame at a time and with one frame per core at once,
// each frame on a team of every core (the plug-in deciding cell by cell
// whether its team pays) against one thread per frame, in turn; then, for
// PNG, the size and encoding time of the tool's frames at every zlib level and
// with every row filter; then, for a short and a huge range, the time to the
// first frame and the peak memory of a render stopped after its first frames.
//
//   tilvane_tool_bench [--frames N] [--keep] [--tool PATH] [--ranges] [-- extra tilvane options]
//
// --ranges runs only the last part, the ranges.
// --tool times another build of tilvane (an older one, say) on the same jobs.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/tilvane/output/output_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Timing {
  double wall = 0;  // seconds
  double cpu = 0;   // user + system seconds
};

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; }

double ProcessCpu(int who) {
  rusage u{};
  getrusage(who, &u);
  return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "tool_bench: %s\n", what.c_str());
    std::exit(1);
  }
}

// A displacement frame: broad gradients that drift with the frame, with fine
// grain on top, as camera footage has.
void WriteDisplacement(const std::string& path, int w, int h, int frame) {
  OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::UINT8);
  std::vector<unsigned char> px(size_t(w) * h * 3);
  uint32_t seed = 12345u + uint32_t(frame) * 7919u;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const double grain = double(seed >> 24) / 255.0 * 0.06 - 0.03;
      const double u = double(x) / w, v = double(y) / h;
      const double base = 0.5 + 0.35 * std::sin(6.0 * u + 0.2 * frame) * std::cos(4.0 * v);
      for (int c = 0; c < 3; ++c) {
        const double value = std::clamp(base * (0.8 + 0.1 * c) + grain, 0.0, 1.0);
        px[(size_t(y) * w + x) * 3 + c] = static_cast<unsigned char>(value * 255 + 0.5);
      }
    }
  }
  auto out = OIIO::ImageOutput::create(path);
  Check(out && out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, px.data()) &&
            out->close(),
        "cannot write " + path);
}

// A 100x100 icon: a soft-edged disc with a ring, on transparency.
void WriteIcon(const std::string& path) {
  const int n = 100;
  OIIO::ImageSpec spec(n, n, 4, OIIO::TypeDesc::UINT8);
  spec.attribute("oiio:UnassociatedAlpha", 1);
  std::vector<unsigned char> px(size_t(n) * n * 4);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const double d = std::hypot(x - 49.5, y - 49.5);
      const double a = std::clamp(44.0 - d, 0.0, 1.0);
      const bool ring = d > 30 && d < 36;
      const unsigned char rgba[4] = {
          static_cast<unsigned char>(ring ? 250 : 40), static_cast<unsigned char>(ring ? 200 : 120),
          static_cast<unsigned char>(ring ? 40 : 220), static_cast<unsigned char>(a * 255 + 0.5)};
      std::copy(rgba, rgba + 4, &px[(size_t(y) * n + x) * 4]);
    }
  }
  auto out = OIIO::ImageOutput::create(path);
  Check(out && out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, px.data()) &&
            out->close(),
        "cannot write " + path);
}

// Runs args as a process in dir, its output discarded: wall time and CPU time.
Timing RunTool(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> owned = args;
  std::vector<char*> argv;
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const double cpu0 = ProcessCpu(RUSAGE_CHILDREN);
  const auto t0 = Clock::now();
  pid_t pid = 0;
  Check(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0,
        "cannot run " + args[0]);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  Timing t;
  t.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  t.cpu = ProcessCpu(RUSAGE_CHILDREN) - cpu0;
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, args[0] + " failed on this job");
  return t;
}

// An output frame as the tool wrote it: its spec and pixels in its own type.
struct Frame {
  OIIO::ImageSpec spec;
  std::vector<unsigned char> pixels;
};

Frame ReadFrame(const std::string& path) {
  // As stored: PNG and TIFF straight, not premultiplied on the way in.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  Check(bool(in), "cannot read " + path);
  Frame f;
  f.spec = in->spec();
  f.pixels.resize(f.spec.image_bytes());
  Check(in->read_image(0, 0, 0, f.spec.nchannels, f.spec.format, f.pixels.data()),
        "cannot read " + path);
  return f;
}

std::vector<unsigned char> Encode(const std::string& path, const OIIO::ImageSpec& spec,
                                  const void* pixels) {
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput memory(bytes);
  auto out = OIIO::ImageOutput::create(path);
  Check(out && out->set_ioproxy(&memory) && out->open(path, spec) &&
            out->write_image(spec.format, pixels) && out->close(),
        "cannot encode " + path);
  return bytes;
}

// Written as the tool writes: a temporary file, flushed, renamed.
void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  const std::string temp = path + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Check(fd >= 0 && write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) &&
            fsync(fd) == 0 && close(fd) == 0 && rename(temp.c_str(), path.c_str()) == 0,
        "cannot write " + path);
}

// The baseline: every frame's displacement decoded (the icon once, as the
// tool caches it), its output encoded and written, on `threads` threads.
// pixels(i) gives output frame i's pixels.
template <typename Pixels>
Timing RunBaseline(const std::vector<std::string>& layers, const std::string& icon,
                   const std::vector<OIIO::ImageSpec>& specs, Pixels pixels,
                   const std::vector<std::string>& outputs, int threads) {
  const double cpu0 = ProcessCpu(RUSAGE_SELF);
  const auto t0 = Clock::now();
  OIIO::ImageBuf iconBuf(icon);
  Check(iconBuf.read(0, 0, true, OIIO::TypeDesc::UINT8), "cannot read " + icon);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < specs.size(); i = next++) {
      OIIO::ImageBuf layer(layers[i]);
      Check(layer.read(0, 0, true, OIIO::TypeDesc::UINT8), "cannot read " + layers[i]);
      WriteFile(outputs[i], Encode(outputs[i], specs[i], pixels(i)));
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();
  Timing t;
  t.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  t.cpu = ProcessCpu(RUSAGE_SELF) - cpu0;
  return t;
}

std::string Numbered(const std::string& stem, int frame, const std::string& ext) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.%s", stem.c_str(), frame, ext.c_str());
  return name;
}

// The output frames' pixels as they are in memory, one file each, for the
// baseline process, so that it encodes what the in-process baseline encodes.
// Reading them back is not the baseline's work: the process writes how long it
// took to a file, and the parent takes that off the process's time.
void WriteRaw(const std::string& path, const Frame& f) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Check(fd >= 0 && write(fd, f.pixels.data(), f.pixels.size()) == ssize_t(f.pixels.size()) &&
            close(fd) == 0,
        "cannot write " + path);
}

std::vector<unsigned char> ReadRaw(const std::string& path, size_t bytes) {
  std::vector<unsigned char> data(bytes);
  const int fd = open(path.c_str(), O_RDONLY);
  Check(fd >= 0 && read(fd, data.data(), bytes) == ssize_t(bytes) && close(fd) == 0,
        "cannot read " + path);
  return data;
}

// What the baseline process wrote of its reading of the raw frames.
Timing RawReadTime(const std::string& dir) {
  Timing t;
  FILE* f = std::fopen((dir + "/raw-read.txt").c_str(), "r");
  Check(f != nullptr && std::fscanf(f, "%lf %lf", &t.wall, &t.cpu) == 2,
        "the baseline process left no raw-read.txt");
  std::fclose(f);
  return t;
}

// --io-only DIR LAYER EXT FRAMES W H CHANNELS TYPE LEVEL FILTER THREADS: the
// baseline as a process of its own. FRAMES 0 measures its start-up alone.
// Its time is taken by the parent, less the reading of the raw frames, which
// it writes to DIR/raw-read.txt as wall and CPU seconds.
int IoOnly(char** a) {
  const std::string dir = a[0], layer = a[1], ext = a[2];
  const int frames = std::atoi(a[3]);
  OIIO::ImageSpec spec(std::atoi(a[4]), std::atoi(a[5]), std::atoi(a[6]), OIIO::TypeDesc(a[7]));
  if (spec.nchannels == 4) spec.alpha_channel = 3;
  if (ext == "png") {
    spec.attribute("png:compressionLevel", std::atoi(a[8]));
    spec.attribute("png:filter", std::atoi(a[9]));
  }
  const int threads = std::atoi(a[10]);
  std::vector<std::vector<unsigned char>> pixels;
  std::vector<std::string> layers, outputs;
  const double cpu0 = ProcessCpu(RUSAGE_SELF);
  const auto t0 = Clock::now();
  for (int f = 0; f < frames; ++f) {
    pixels.push_back(ReadRaw(dir + "/" + Numbered("raw-" + layer, f, "bin"), spec.image_bytes()));
    layers.push_back(dir + "/" + Numbered(layer, f, "png"));
    outputs.push_back(dir + "/" + Numbered("process-" + layer, f, ext));
  }
  FILE* read = std::fopen((dir + "/raw-read.txt").c_str(), "w");
  Check(read != nullptr, "cannot write " + dir + "/raw-read.txt");
  std::fprintf(read, "%.6f %.6f\n", std::chrono::duration<double>(Clock::now() - t0).count(),
               ProcessCpu(RUSAGE_SELF) - cpu0);
  std::fclose(read);
  if (frames == 0) return 0;
  RunBaseline(
      layers, dir + "/icon.png", std::vector<OIIO::ImageSpec>(frames, spec),
      [&](size_t i) { return pixels[i].data(); }, outputs, threads);
  return 0;
}

// What the command line asked for.
struct Options {
  int frames = 24;
  bool keep = false;
  std::string tool = TILVANE_TOOL_PATH;
  std::vector<std::string> extra;  // passed on to every render
  int pngLevel = tilvane_tool::kDefaultPngCompression;
  int pngFilter = 0;  // libpng's flags
  bool rangesOnly = false;
};

int PngFilterFlags(const std::string& name) {
  for (const auto& f : tilvane_tool::kPngFilters) {
    if (name == f.name) return f.flags;
  }
  Check(false, "unknown --png-filter " + name);
  return 0;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (const auto& f : tilvane_tool::kPngFilters) {
    if (f.filter == tilvane_tool::kDefaultPngFilter) o.pngFilter = f.flags;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) {
      o.frames = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--ranges") {
      o.rangesOnly = true;
    } else if (a == "--tool" && i + 1 < argc) {
      o.tool = fs::absolute(argv[++i]).string();
    } else if (a == "--") {
      o.extra.assign(argv + i + 1, argv + argc);
      // The baseline encodes PNG at the tool's level and with its filter.
      for (size_t k = 0; k + 1 < o.extra.size(); ++k) {
        if (o.extra[k] == "--png-compression") o.pngLevel = std::atoi(o.extra[k + 1].c_str());
        if (o.extra[k] == "--png-filter") o.pngFilter = PngFilterFlags(o.extra[k + 1]);
      }
      return true;
    } else {
      return false;
    }
  }
  return true;
}

struct Job {
  std::string name;
  std::string layer;  // the displacement sequence's stem
  std::string ext;
  int frames;
  std::vector<std::string> options;
};

// The tool's arguments for a job's frames into stem.####.ext, and more.
std::vector<std::string> RenderArgs(const Options& o, const Job& job, const std::string& output,
                                    const std::vector<std::string>& more) {
  std::vector<std::string> args = {o.tool,
                                   "render",
                                   "--quiet",
                                   "--icon",
                                   "icon.png",
                                   "--displacement",
                                   job.layer + ".####.png",
                                   "--frames",
                                   "0-" + std::to_string(job.frames - 1),
                                   "-o",
                                   output};
  args.insert(args.end(), more.begin(), more.end());
  args.insert(args.end(), o.extra.begin(), o.extra.end());
  return args;
}

// The start-up each process pays before its first frame: the tool's (its
// libraries and the plug-in loaded, nothing rendered) and the baseline's.
void PrintStartUp(const Options& o, const std::string& dir, const std::string& self) {
  const auto best = [&](const std::vector<std::string>& args) {
    Timing b{1e9, 1e9};
    for (int i = 0; i < 5; ++i) {
      const Timing t = RunTool(args, dir);
      b.wall = std::min(b.wall, t.wall);
      b.cpu = std::min(b.cpu, t.cpu);
    }
    return b;
  };
  const Timing tool = best({o.tool, "--version"});
  const Timing io =
      best({self, "--io-only", dir, "disp", "png", "0", "1", "1", "4", "uint8", "0", "0", "1"});
  std::printf(
      "\nstart-up (best of 5): tool %.3fs wall %.3fs CPU; I/O-only process %.3fs wall "
      "%.3fs CPU\n",
      tool.wall, tool.cpu, io.wall, io.cpu);
}

// One job: the tool, then both baselines on the frames it wrote; one table row.
// Returns the tool's frames.
std::vector<Frame> TimeJob(const Options& o, const Job& job, const std::string& dir,
                           const std::string& self, int cores) {
  const std::string stem = "out-" + job.layer;
  const Timing tool = RunTool(RenderArgs(o, job, stem + ".####." + job.ext, job.options), dir);

  std::vector<Frame> outputs;
  std::vector<OIIO::ImageSpec> specs;
  std::vector<std::string> layers, paths;
  for (int f = 0; f < job.frames; ++f) {
    outputs.push_back(ReadFrame(dir + "/" + Numbered(stem, f, job.ext)));
    if (job.ext == "png") {
      outputs.back().spec.attribute("png:compressionLevel", o.pngLevel);
      outputs.back().spec.attribute("png:filter", o.pngFilter);
    }
    specs.push_back(outputs.back().spec);
    WriteRaw(dir + "/" + Numbered("raw-" + job.layer, f, "bin"), outputs.back());
    layers.push_back(dir + "/" + Numbered(job.layer, f, "png"));
    paths.push_back(dir + "/" + Numbered("baseline-" + job.layer, f, job.ext));
  }
  const OIIO::ImageSpec& spec = outputs.front().spec;
  Timing process =
      RunTool({self, "--io-only", dir, job.layer, job.ext, std::to_string(job.frames),
               std::to_string(spec.width), std::to_string(spec.height),
               std::to_string(spec.nchannels), spec.format.c_str(), std::to_string(o.pngLevel),
               std::to_string(o.pngFilter), std::to_string(cores)},
              dir);
  const Timing rawRead = RawReadTime(dir);
  process.wall -= rawRead.wall;
  process.cpu -= rawRead.cpu;
  const Timing inProcess = RunBaseline(
      layers, dir + "/icon.png", specs, [&](size_t i) { return outputs[i].pixels.data(); }, paths,
      cores);
  const double n = job.frames;
  std::printf("%-38s %6d %9.2f | %9.2f %6.2f %4.3f %4.3f | %9.2f %6.2f %9.3f\n", job.name.c_str(),
              job.frames, n / tool.wall, n / process.wall, tool.wall / process.wall, tool.cpu / n,
              process.cpu / n, n / inProcess.wall, tool.wall / inProcess.wall, inProcess.cpu / n);
  std::fflush(stdout);
  return outputs;
}

// Frames at once, each on a team of every core or on one thread, run in turn
// three times each way: the median wall time of each and their ratio.
void PrintFramesAtOnce(const Options& o, const Job& job, const std::string& dir, int cores) {
  std::printf(
      "\nFrames at once, each frame on a team of every core (TILVANE_THREADS=%d) against one "
      "thread (TILVANE_THREADS=1), the default job, median of 3 in turn:\n%14s %12s %12s "
      "%8s\n",
      cores, "frames at once", "team fps", "1 thread fps", "ratio");
  for (const int atOnce : {1, cores}) {
    std::vector<double> walls[2];
    for (int run = 0; run < 3; ++run) {
      for (const int way : {0, 1}) {
        // Set here, between runs, while this process runs no other thread.
        setenv("TILVANE_THREADS", way == 0 ? std::to_string(cores).c_str() : "1", 1);
        walls[way].push_back(
            RunTool(RenderArgs(o, job, "at-once.####.png", {"--threads", std::to_string(atOnce)}),
                    dir)
                .wall);
        unsetenv("TILVANE_THREADS");
      }
    }
    for (std::vector<double>& w : walls) std::sort(w.begin(), w.end());
    const double n = job.frames;
    std::printf("%14d %12.2f %12.2f %8.3f\n", atOnce, n / walls[0][1], n / walls[1][1],
                walls[0][1] / walls[1][1]);
    std::fflush(stdout);
  }
}

// PNG: the tool's own frames encoded on one thread, at each zlib level with
// the tool's filter, then with each filter at the tool's level.
void PrintPngTables(const Options& o, const std::vector<Frame>& frames) {
  const auto encodeAll = [&](int level, int filter, double& ms, double& kb) {
    double cpu = 0, bytes = 0;
    for (const Frame& f : frames) {
      OIIO::ImageSpec spec = f.spec;
      spec.attribute("png:compressionLevel", level);
      spec.attribute("png:filter", filter);
      const double c0 = ThreadCpu();
      bytes += double(Encode("level.png", spec, f.pixels.data()).size());
      cpu += ThreadCpu() - c0;
    }
    const double n = double(frames.size());
    ms = cpu / n * 1e3;
    kb = bytes / n / 1e3;
  };
  std::printf(
      "\nPNG zlib level (the tool's 1920x1080 frames, one thread, filter flags 0x%02x):\n"
      "%9s %12s %12s\n",
      o.pngFilter, "level", "ms/frame", "KB/frame");
  for (int level = 0; level <= 9; ++level) {
    double ms = 0, kb = 0;
    encodeAll(level, o.pngFilter, ms, kb);
    std::printf("%9d %12.1f %12.0f\n", level, ms, kb);
  }
  std::printf("\nPNG row filter (the same frames, one thread, zlib level %d):\n%9s %12s %12s\n",
              o.pngLevel, "filter", "ms/frame", "KB/frame");
  for (const auto& filter : tilvane_tool::kPngFilters) {
    double ms = 0, kb = 0;
    encodeAll(o.pngLevel, filter.flags, ms, kb);
    std::printf("%9s %12.1f %12.0f\n", filter.name, ms, kb);
  }
}

}  // namespace

// A render of frames `range`, stopped (SIGTERM) once `stopAfter` frames are
// on disk: seconds to its first frame and its peak resident memory.
struct RangeRun {
  double firstFrame = 0;
  double peakMb = 0;
};

RangeRun RunRange(const Options& o, const std::string& dir, const std::string& range,
                  size_t stopAfter) {
  const std::string out = dir + "/range-" + range;
  fs::create_directories(out);
  std::vector<std::string> owned = {o.tool,
                                    "render",
                                    "--quiet",
                                    "--icon",
                                    "icon.png",
                                    "--size",
                                    "320x180",
                                    "--threads",
                                    "1",
                                    "--frames",
                                    range,
                                    "-o",
                                    out + "/f.########.png"};
  owned.insert(owned.end(), o.extra.begin(), o.extra.end());
  std::vector<char*> argv;
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto t0 = Clock::now();
  pid_t pid = 0;
  Check(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0,
        "cannot run " + o.tool);
  posix_spawn_file_actions_destroy(&actions);
  RangeRun run;
  const auto written = [&] {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(out)) {
      if (e.path().filename().string()[0] != '.') ++n;
    }
    return n;
  };
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const size_t n = written();
    if (n > 0 && run.firstFrame == 0) {
      run.firstFrame = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    if (n >= stopAfter) kill(pid, SIGTERM);
    if (wait4(pid, &status, WNOHANG, &usage) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  return run;
}

// The memory of a range does not grow with its length, and its first frame
// comes as soon: each range rendered until five frames are on disk.
void PrintRanges(const Options& o, const std::string& dir) {
  std::printf("\n%-24s %16s %14s\n", "range (320x180, stills)", "first frame (s)", "peak RSS (MB)");
  for (const char* range : {"0-9", "0-99999999"}) {
    const RangeRun run = RunRange(o, dir, range, 5);
    std::printf("%-24s %16.3f %14.1f\n", range, run.firstFrame, run.peakMb);
  }
}

int main(int argc, char** argv) {
  if (argc == 13 && std::string(argv[1]) == "--io-only") return IoOnly(argv + 2);
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: tilvane_tool_bench [--frames N] [--keep] [--tool PATH] [-- tilvane "
                 "options]\n");
    return 2;
  }
  const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
  char pattern[] = "/tmp/tilvane-tool-bench-XXXXXX";
  Check(mkdtemp(pattern) != nullptr, "cannot make a directory in /tmp");
  const std::string dir = pattern;
  std::printf(
      "tilvane_tool_bench: %d frames, %d cores, PNG zlib level %d, filter flags 0x%02x, tool %s, "
      "files in %s\n",
      o.frames, cores, o.pngLevel, o.pngFilter, o.tool.c_str(), dir.c_str());
  std::fflush(stdout);

  WriteIcon(dir + "/icon.png");
  if (o.rangesOnly) {
    PrintRanges(o, dir);
    if (!o.keep) fs::remove_all(dir);
    return 0;
  }
  const int fourKFrames = std::max(1, o.frames / 3);
  for (int f = 0; f < o.frames; ++f) {
    WriteDisplacement(dir + "/" + Numbered("disp", f, "png"), 1920, 1080, f);
    WriteDisplacement(dir + "/" + Numbered("wide", f, "png"), 2560, 1080, f);
    WriteDisplacement(dir + "/" + Numbered("hd", f, "png"), 1280, 720, f);
    if (f < fourKFrames) WriteDisplacement(dir + "/" + Numbered("uhd", f, "png"), 3840, 2160, f);
  }
  const std::vector<std::string> fill = {"--size", "1920x1080", "--fit-displacement", "fill"};
  const std::vector<Job> jobs = {
      {"1920x1080 PNG, defaults", "disp", "png", o.frames, {}},
      {"1920x1080 PNG, fill from 2560x1080", "wide", "png", o.frames, fill},
      {"1920x1080 PNG, fill from 1280x720", "hd", "png", o.frames, fill},
      {"3840x2160 EXR", "uhd", "exr", fourKFrames, {}},
  };
  const std::string self = fs::canonical("/proc/self/exe").string();
  PrintStartUp(o, dir, self);

  std::printf("\n%-38s %6s %9s | %9s %6s %9s | %9s %6s\n", "", "", "tool", "I/O as a", "",
              "CPU/frame", "I/O in", "");
  std::printf("%-38s %6s %9s | %9s %6s %9s | %9s %6s %9s\n", "job", "frames", "fps", "process",
              "ratio", "tool, I/O", "process", "ratio", "");
  std::vector<Frame> pngFrames;
  for (const Job& job : jobs) {
    std::vector<Frame> outputs = TimeJob(o, job, dir, self, cores);
    if (job.ext == "png" && pngFrames.empty()) {
      pngFrames.assign(outputs.begin(), outputs.begin() + std::min<size_t>(outputs.size(), 6));
    }
  }
  PrintFramesAtOnce(o, jobs.front(), dir, cores);
  PrintPngTables(o, pngFrames);
  PrintRanges(o, dir);
  if (!o.keep) fs::remove_all(dir);
  return 0;
}
