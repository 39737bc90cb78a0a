// A movie's sound, held against ffprobe and ffmpeg's own decoding: which
// layer's track it carries, each container's codec, the range it is trimmed
// to, the samples where they are copied, and the note where none is kept.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

constexpr int kRate = 48000;
constexpr int kPerFrame = kRate / 30;  // samples a frame lasts at 30 frames a second

// The source's samples, worked out by hand: two channels of different prime
// periods, so that no shift of the track matches them again.
int16_t Left(int64_t k) { return static_cast<int16_t>(k % 32749 - 16000); }
int16_t Right(int64_t k) { return static_cast<int16_t>(k % 30011 - 15000); }

class Sounds : public ToolTest {
 protected:
  // A command's standard output, run in the test directory.
  std::string output(const std::string& command) const {
    std::string out;
    FILE* pipe = popen(("cd '" + dir_.string() + "' && " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[65536];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
    return out;
  }

  // Two seconds of 32x24 picture at 30 frames a second, and, unless audio is
  // empty, two of the ramp above in that codec.
  void movie(const std::string& name, const std::string& audio,
             const std::string& video = "-c:v libx264 -pix_fmt yuv420p") {
    if (!std::ifstream(path("ramp.raw"))) {
      std::ofstream raw(path("ramp.raw"), std::ios::binary);
      for (int64_t k = 0; k < 2 * kRate; ++k) {
        const int16_t s[2] = {Left(k), Right(k)};
        raw.write(reinterpret_cast<const char*>(s), sizeof s);
      }
    }
    const std::string sound =
        audio.empty() ? "" : " -f s16le -ar 48000 -ac 2 -i ramp.raw -c:a " + audio;
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i gradients=s=32x24:r=30:d=2" + sound + " " +
                    video + " " + name),
              0)
        << name;
  }

  RunResult render(const std::string& displacement, const std::string& frames,
                   const std::string& out, std::vector<std::string> extra = {}) {
    writeUniform("icon.png", 4, 4, 8, {255, 255, 255, 255});
    std::vector<std::string> args = {"render",     "--icon",  "icon.png", "--displacement",
                                     displacement, "--units", "8",        "--frames",
                                     frames,       "-o",      out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }

  // ffprobe's codec name of each audio stream.
  std::vector<std::string> audioCodecs(const std::string& movie) const {
    const std::string text = output(
        "ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 " + movie);
    std::vector<std::string> names;
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find('\n', at);
      names.push_back(text.substr(at, end - at));
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return names;
  }

  // The first audio track as ffmpeg decodes it: stereo 16-bit samples.
  std::vector<int16_t> decoded(const std::string& movie) const {
    const std::string bytes =
        output("ffmpeg -v error -i " + movie + " -map 0:a:0 -ac 2 -f s16le -acodec pcm_s16le -");
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }
};

struct Carried {
  const char* source;  // made by movie() with this audio codec
  const char* out;
  const char* frames;
  const char* codec;  // ffprobe's name for the output's track
  bool copied;
  int slack;  // how many samples the track's length may be off the range's
  // The largest difference from the source's samples over the range, -1 not
  // compared. A lossy track cut mid-stream decodes a little differently
  // (the decoder's state before the cut is not there) but in step.
  int near;
};

const std::map<std::string, std::string> kSources = {
    {"pcm.mov", "pcm_s16le"},
    {"aac.mp4", "aac"},
    {"opus.webm", "libopus"},
    {"ulaw.mov", "pcm_mulaw"},
};

// Each container with each source codec: copied where the container takes
// it, else re-encoded; trimmed to the frames rendered, those from frame 15 on
// starting half a second in.
const Carried kCarried[] = {
    {"pcm.mov", "a.mov", "0-29", "pcm_s16le", true, 0, 0},
    {"pcm.mov", "b.mkv", "15-44", "pcm_s16le", true, 0, 0},
    {"pcm.mov", "c.mp4", "15-44", "aac", false, 1024, -1},
    {"pcm.mov", "d.webm", "0-29", "opus", false, 960, -1},
    {"aac.mp4", "e.mp4", "0-29", "aac", true, 1024, 0},
    // The packet before the range goes too, for the decoder's overlap.
    {"aac.mp4", "f.mov", "15-44", "aac", true, 1024, 32},
    // Matroska keeps no time before zero for the packet before the range:
    // re-encoded, to the source's own decoding but for FLAC's 24 bits.
    {"aac.mp4", "g.mkv", "15-44", "flac", false, 0, 1},
    {"aac.mp4", "h.webm", "0-29", "opus", false, 960, -1},
    // ffmpeg starts this source's picture 7 ms after its sound, so whole
    // packets of it cannot start exactly at the picture.
    {"opus.webm", "i.webm", "0-29", "opus", true, 960, -1},
    {"opus.webm", "j.mkv", "15-44", "opus", true, 960, -1},
    {"opus.webm", "k.mp4", "15-44", "aac", false, 1024, -1},
    // FLAC is lossless: re-encoded, the samples are the source's exactly.
    {"ulaw.mov", "l.mkv", "15-44", "flac", false, 0, 0},
};

TEST_F(Sounds, EachContainerCarriesTheSoundTrimmedToTheRange) {
  for (const auto& [name, codec] : kSources) {
    movie(name, codec,
          name == "opus.webm" ? "-c:v libvpx-vp9 -deadline realtime"
                              : "-c:v libx264 -pix_fmt yuv420p");
  }
  // The reference decodes the whole source and cuts it here, in samples; on
  // the PCM source it gives the samples worked out by hand.
  const std::vector<int16_t> pcm = decoded("pcm.mov");
  ASSERT_EQ(pcm.size(), size_t{4} * kRate);
  for (int64_t k = 0; k < 2 * kRate; ++k) {
    ASSERT_EQ(pcm[2 * k], Left(k)) << k;
    ASSERT_EQ(pcm[2 * k + 1], Right(k)) << k;
  }
  std::map<std::string, std::vector<int16_t>> sources;
  for (const auto& [name, codec] : kSources) sources[name] = decoded(name);

  for (const Carried& c : kCarried) {
    SCOPED_TRACE(std::string(c.source) + " to " + c.out + " over " + c.frames);
    const RunResult r = render(c.source, c.frames, c.out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(audioCodecs(c.out), std::vector<std::string>{c.codec});
    const std::string said =
        std::string("with the sound of '") + c.source + "' " + (c.copied ? "copied" : "(");
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;

    const int64_t first = std::atoi(c.frames) * int64_t{kPerFrame};
    const int64_t count = 30 * int64_t{kPerFrame};  // as long as the 30 frames
    const std::vector<int16_t> got = decoded(c.out);
    const int64_t samples = static_cast<int64_t>(got.size() / 2);
    EXPECT_LE(std::abs(samples - count), c.slack) << samples << " samples";
    if (c.near < 0) continue;
    const std::vector<int16_t>& want = sources[c.source];
    int worst = 0;
    for (int64_t k = 0; k < std::min(samples, count) * 2; ++k) {
      worst = std::max(worst, std::abs(got[k] - want[first * 2 + k]));
    }
    EXPECT_LE(worst, c.near);
  }
}

// The displacement movie's sound comes first; a displacement layer without
// one leaves the icon movie's.
TEST_F(Sounds, TheDisplacementsSoundComesFirstElseTheIcons) {
  movie("pcm.mov", "pcm_s16le");
  movie("aac.mp4", "aac");
  movie("silent.mov", "");
  writeUniform("still.png", 32, 24, 8, {128, 128, 128, 255});
  const struct {
    const char* displacement;
    const char* codec;
  } cases[] = {{"pcm.mov", "pcm_s16le"}, {"silent.mov", "aac"}, {"still.png", "aac"}};
  for (const auto& c : cases) {
    const RunResult r = run({"render", "--icon", "aac.mp4", "--displacement", c.displacement,
                             "--frames", "0-9", "-o", "out.mov"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(audioCodecs("out.mov"), std::vector<std::string>{c.codec}) << c.displacement;
  }
}

// --no-audio leaves the sound out, and a settings file keeps it; GIFs and
// images say once that they keep no sound, naming the movie, unless told.
TEST_F(Sounds, NoAudioAndTheOutputsThatKeepNone) {
  movie("pcm.mov", "pcm_s16le");
  RunResult r = render("pcm.mov", "0-9", "quiet.mp4", {"--no-audio", "--save-settings", "s.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(audioCodecs("quiet.mp4").empty());
  EXPECT_EQ(r.err.find("sound"), std::string::npos) << r.err;
  r = run({"render", "--settings", "s.json", "-o", "again.mp4"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(audioCodecs("again.mp4").empty());

  const std::string note = "the sound of 'pcm.mov' is not kept: ";
  for (const std::string out : {"anim.gif", "seq.####.png"}) {
    r = render("pcm.mov", "0-9", out);
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t at = r.err.find(note);
    EXPECT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(note, at + 1), std::string::npos) << r.err;
    r = render("pcm.mov", "0-9", out, {"--no-audio"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find(note), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tilvane_test
