// Movies read with libavformat and libavcodec. Every decoded picture is one
// layer frame, in presentation order, shown from its presentation time; the
// frames are indexed from the packets' timestamps when the movie is opened, so reading
// seeks to the key frame before a frame and decodes forward from there.
// Pictures are shown as players show them: turned by the stream's display
// matrix (quarter turns), with the alpha of VP8/VP9 in WebM or Matroska.
// Colour is read as BT.709: PQ and HLG movies are refused, and BT.2020 SDR
// ones warned about, each with the ffmpeg command that makes a BT.709 copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/tilvane/core/rate.h"

namespace tilvane_tool {

// When a movie's pictures show, in ticks of tickNum / tickDen seconds from
// the first picture: each picture's start, in presentation order, and the end
// of the last one.
struct MovieTimes {
  std::vector<int64_t> starts;
  int64_t end = 1;
  int64_t tickNum = 1;
  int64_t tickDen = 30;
  Rate rate;  // the stream's own rate, as ffprobe's r_frame_rate gives it
};

// A decoded picture: straight RGBA rows, 8 bits per channel or, from sources
// with more than 8 bits, 16 (in the machine's byte order).
struct MoviePicture {
  int32_t width = 0;
  int32_t height = 0;
  int bits = 8;
  std::vector<uint8_t> data;
};

class MovieReader {
 public:
  // Opens the movie and indexes its frames. Throws UsageError naming option
  // and path when it has no video stream or cannot be decoded.
  MovieReader(const std::string& option, const std::string& path);
  ~MovieReader();
  MovieReader(const MovieReader&) = delete;
  MovieReader& operator=(const MovieReader&) = delete;

  int64_t frameCount() const;
  const MovieTimes& times() const;
  // The size as players show it: turned by the stream's display matrix.
  int32_t width() const;
  int32_t height() const;
  // The seeks made so far to reach the frames read; reading in order needs
  // none after the first.
  int64_t seeks() const;

  // Frame index (0 to frameCount() - 1). Reading the next frame after the
  // last one read decodes only what lies between. Not thread-safe. Throws
  // UsageError naming the file and the frame.
  MoviePicture read(int64_t index);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tilvane_tool
