// A movie's sound in step with its picture, for every source codec and
// container: clicks at known times land, after the picture's first frame,
// where the source's own decoding puts them, within a millisecond, for the
// whole clip and for a range from mid-clip, copied or re-encoded.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

constexpr double kLength = 1.2;  // seconds of each source, 30 frames at 25 a second
// One a millisecond after the mid-clip range's start (0.4 s), where a decoder
// needs the packets before the range to settle, and a copy by whole packets
// would have left it out.
const double kClicks[] = {0.2001, 0.4011, 0.6001, 1.0001};
constexpr double kTolerance = 0.001;

// A movie's sound as ffmpeg decodes it, placed on the file's own timeline,
// and where its picture starts on that timeline.
struct Decoded {
  std::vector<float> samples;  // the first channel, from time 0
  int rate = 0;
  double pictureStart = 0;
  std::string codec;

  // The times after the first picture where a click starts: the first
  // sample over a quarter of full scale after a tenth of a second of quiet.
  std::vector<double> clicks() const {
    std::vector<double> found;
    int64_t lastLoud = -rate;
    for (size_t k = 0; k < samples.size(); ++k) {
      if (std::fabs(samples[k]) <= 0.25f) continue;
      if (static_cast<int64_t>(k) - lastLoud > rate / 10) {
        found.push_back(static_cast<double>(k) / rate - pictureStart);
      }
      lastLoud = static_cast<int64_t>(k);
    }
    return found;
  }
  // Where the sound ends, after the first picture.
  double end() const { return static_cast<double>(samples.size()) / rate - pictureStart; }
};

// The largest sound a codec's packet holds, in seconds: what a trim to whole
// packets may add beyond the range.
double CodecFrame(const std::string& codec, int rate) {
  const std::map<std::string, int> samples = {
      {"aac", 1024}, {"opus", 960}, {"mp3", 1152}, {"flac", 4608}};
  const auto it = samples.find(codec);
  return it == samples.end() ? 0.0 : static_cast<double>(it->second) / rate;
}

class SoundSync : public ToolTest {
 protected:
  std::string output(const std::string& command) const {
    std::string out;
    FILE* pipe = popen(("cd '" + dir_.string() + "' && " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[65536];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
    return out;
  }

  std::string probe(const std::string& movie, const std::string& stream,
                    const std::string& entry) const {
    std::string v = output("ffprobe -v error -select_streams " + stream +
                           " -show_entries stream=" + entry + " -of csv=p=0 " + movie);
    while (!v.empty() && (v.back() == '\n' || v.back() == ',')) v.pop_back();
    return v;
  }

  // -copyts keeps the file's times, and aresample pads or cuts the decoded
  // sound so that its first sample is at time 0 of that timeline.
  Decoded decode(const std::string& movie) const {
    Decoded d;
    d.rate = std::atoi(probe(movie, "a:0", "sample_rate").c_str());
    d.pictureStart = std::atof(probe(movie, "v:0", "start_time").c_str());
    d.codec = probe(movie, "a:0", "codec_name");
    const std::string bytes = output("ffmpeg -v error -copyts -i " + movie +
                                     " -map 0:a:0 -af aresample=async=1:first_pts=0 -ac 1"
                                     " -f f32le -acodec pcm_f32le -");
    d.samples.resize(bytes.size() / sizeof(float));
    std::memcpy(d.samples.data(), bytes.data(), d.samples.size() * sizeof(float));
    return d;
  }

  // kLength seconds of a small picture, and of 2 ms clicks at kClicks at
  // `rate`, in `codec`.
  void source(const std::string& name, const std::string& codec, int rate,
              const std::string& video = "-c:v libx264 -pix_fmt yuv420p") {
    std::string clicks;
    for (const double t : kClicks) {
      clicks += (clicks.empty() ? "" : "+") + std::string("0.8*between(t,") + std::to_string(t) +
                "," + std::to_string(t + 0.002) + ")";
    }
    const std::string length = std::to_string(kLength);
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=32x24:r=25:d=" + length +
                    " -f lavfi -i \"aevalsrc='" + clicks + "':s=" + std::to_string(rate) +
                    ":d=" + length + "\" -c:a " + codec + " " + video + " " + name),
              0)
        << name;
  }
};

struct Source {
  const char* name;
  const char* codec;  // ffmpeg's encoder
  int rate;
  const char* video;
};

// PCM at 44.1 kHz: Opus re-encodes it at 48 kHz, so the range is counted at
// the encoder's rate, not the source's.
const Source kSources[] = {
    {"pcm.mov", "pcm_s16le", 44100, "-c:v libx264 -pix_fmt yuv420p"},
    {"aac.mp4", "aac", 48000, "-c:v libx264 -pix_fmt yuv420p"},
    {"opus.webm", "libopus", 48000, "-c:v libvpx-vp9 -deadline realtime"},
    {"mp3.mp4", "libmp3lame", 48000, "-c:v libx264 -pix_fmt yuv420p"},
    {"flac.mkv", "flac", 48000, "-c:v libx264 -pix_fmt yuv420p"},
};
void PrintTo(const Source& s, std::ostream* os) { *os << s.name; }

// The recipe, on the PCM source: each click starts at the first sample at or
// after its time, ceil(t * 44100), the picture starting at 0.
TEST_F(SoundSync, TheClicksAreFoundWhereTheyWereMade) {
  source(kSources[0].name, kSources[0].codec, kSources[0].rate, kSources[0].video);
  const Decoded pcm = decode("pcm.mov");
  ASSERT_EQ(pcm.rate, 44100);
  EXPECT_EQ(pcm.pictureStart, 0.0);
  EXPECT_EQ(pcm.clicks(), (std::vector<double>{8825 / 44100.0, 17689 / 44100.0, 26465 / 44100.0,
                                               44105 / 44100.0}));
}

class SoundSyncOf : public SoundSync, public testing::WithParamInterface<Source> {};

// Today's faults, each seen here: Opus copied into .webm or .mkv lost its
// first packet and pre-skip and ran 6 ms ahead; any sound re-encoded to Opus
// in .webm shifted the picture 7 ms late, behind the encoder's delay; MP3
// copied into .mov or .mp4 from mid-clip kept one packet before the range,
// too few for its bit reservoir, and lost its first 20 ms; AAC, MP3 and FLAC
// copied into .mkv from mid-clip lost the clicks of their first packets.
TEST_P(SoundSyncOf, ClicksLandWhereTheSourcesOwnDecodingPutsThem) {
  const Source& s = GetParam();
  source(s.name, s.codec, s.rate, s.video);
  writeUniform("icon.png", 4, 4, 8, {255, 255, 255, 255});
  const struct {
    const char* frames;
    double start;
    double length;
  } ranges[] = {{"0-29", 0.0, 1.2}, {"10-29", 0.4, 0.8}};
  const Decoded from = decode(s.name);
  for (const char* container : {"mov", "mp4", "mkv", "webm"}) {
    for (const auto& range : ranges) {
      const std::string out = std::string("out.") + container;
      SCOPED_TRACE(std::string(s.name) + " to " + out + " over " + range.frames);
      const RunResult r = run({"render", "--icon", "icon.png", "--displacement", s.name, "--units",
                               "8", "--frames", range.frames, "-o", out});
      ASSERT_EQ(r.status, 0) << r.err;
      const Decoded to = decode(out);
      // Matroska keeps no time before zero, so a copy from mid-clip of a
      // codec but PCM and Opus (cut exactly, or by its pre-skip) would start
      // at the next whole packet, which AAC and MP3 decode silent: it is
      // re-encoded instead, and the summary says so.
      if (range.start > 0 && std::string(container) == "mkv" &&
          (from.codec == "aac" || from.codec == "mp3" || from.codec == "flac")) {
        EXPECT_NE(r.err.find("re-encoded to FLAC (flac, 48000 Hz) to start exactly at the first "
                             "frame, which a copy cannot in .mkv"),
                  std::string::npos)
            << r.err;
      }
      std::vector<double> want;
      for (const double t : from.clicks()) {
        if (t >= range.start) want.push_back(t - range.start);
      }
      const std::vector<double> got = to.clicks();
      ASSERT_EQ(got.size(), want.size()) << r.err;
      for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], kTolerance) << "click " << i;
      }
      // Whole packets may carry the sound past the range, by one at most; a
      // source whose sound ends first (Opus in .webm, by the pre-skip) ends
      // it where it does.
      EXPECT_GE(to.end(), std::min(range.length, from.end() - range.start) - kTolerance);
      EXPECT_LE(to.end(), range.length + CodecFrame(to.codec, to.rate) + kTolerance);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, SoundSyncOf, testing::ValuesIn(kSources),
                         [](const testing::TestParamInfo<Source>& info) {
                           const std::string name = info.param.name;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace tilvane_test
