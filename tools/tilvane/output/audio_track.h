// The sound of a movie output: the first audio track of a movie a layer
// reads, trimmed to the rendered range and written beside the picture. It is
// copied packet by packet when the container takes its codec (whole packets,
// or for PCM exact samples) and otherwise decoded and re-encoded, trimmed
// exactly in samples: AAC in .mp4 and .mov, Opus in .webm, FLAC in .mkv.
// Either way the codec's priming goes with it (an edit list, or Opus's
// pre-skip where times start at zero), so it plays in step with the picture.
// Where times start at zero and a copy could not start at the range's start
// (AAC, MP3 or FLAC from mid-clip in .mkv), it is re-encoded, and says why.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;

namespace tilvane_tool {

// A time held exactly: num / den seconds.
struct Seconds {
  int64_t num = 0;
  int64_t den = 1;
};

// Where a movie output's sound comes from. Times are the layer's own, from
// its first picture.
struct AudioSource {
  std::string movie;
  Seconds start;     // the render's first frame
  Seconds duration;  // the render's length
};

// True when the file is a movie with an audio track this build can read.
bool HasSound(const std::string& movie);

// True when a movie of this name carries sound (a GIF does not).
bool TakesSound(const std::string& output);

class AudioTrack {
 public:
  // Calls `failed` with what was being done and FFmpeg's code when the output
  // cannot be written; it must throw.
  using Failed = std::function<void(const std::string& doing, int code)>;

  // Opens the source's first audio track and adds its stream to the output,
  // whose header is not written yet. Throws UsageError naming the movie when
  // its sound cannot be read, or the container takes no sound of it.
  AudioTrack(const AudioSource& source, AVFormatContext* output, Failed failed);
  ~AudioTrack();
  AudioTrack(const AudioTrack&) = delete;
  AudioTrack& operator=(const AudioTrack&) = delete;

  // "the sound of 'clip.mov' copied (AAC, 48000 Hz)", or "... re-encoded to
  // Opus (libopus, 48000 Hz)".
  std::string describe() const;
  // Writes the sound up to `until` into the output (from the range's start),
  // so that it interleaves with the picture. Called after the header.
  void writeUntil(Seconds until);
  // Writes the rest of the range and drains the encoder; before the trailer.
  void finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tilvane_tool
