// Movies and animated GIFs out, through FFmpeg's libraries. The container
// comes from the name's extension, the codec from it or --codec:
//   .mov   prores-4444 (10-bit, alpha), png (lossless, alpha), prores-422 (HQ)
//   .mp4   h264 (4:2:0, 8-bit), hevc
//   .webm  vp9 (alpha)
//   .mkv   ffv1 (lossless, alpha)
//   .gif   gif (one palette for the whole movie, dithered, transparency kept)
// YUV codecs are tagged BT.709 (primaries, transfer, limited range) and
// converted with its matrix. A movie may carry a sound beside the picture
// (audio_track.h); a GIF carries none. The file is written under a temporary
// name and takes its own only once complete.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "standin/world.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/output/audio_track.h"
#include "tools/tilvane/output/frame_sink.h"

namespace tilvane_tool {

// The codec a movie of this name is written with: --codec's value, or the
// container's default. Throws UsageError as MovieWriter does.
std::string MovieCodecName(const std::string& path, const std::string& codec);

// Each container's codecs, its default first: ".mov prores-4444 (default),
// png or prores-422; .mp4 h264 (default) or hevc; .webm vp9; ...".
std::string CodecsByContainer();

// Every codec name --codec takes, in any container.
std::vector<std::string> MovieCodecNames();

struct MovieOptions : FrameFormat {
  std::string codec;                 // as --codec gave it; "" the container's default
  std::optional<int> quality;        // 0-100 (--quality); none: the codec's default
  int64_t frames = 1;                // how many frames the movie holds
  std::optional<AudioSource> audio;  // none: a silent movie
};

// One movie being written. Frames go in in order; finish() completes the file.
class MovieWriter : public FrameWriter {
 public:
  // Opens the encoder and the temporary file and writes the header. Throws
  // UsageError for a codec or quality that does not fit (naming the valid
  // ones) and WriteError when the file cannot be written.
  MovieWriter(const std::string& path, const MovieOptions& options);
  ~MovieWriter() override;  // without finish(), the temporary file is removed

  // The codec, and the sound's line when it has one.
  std::string describe() const override;
  void write(const standin::World& frame) override;
  // Drains the encoder, writes the trailer and renames the file into place.
  void finish() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tilvane_tool
