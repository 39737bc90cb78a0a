// Frames out as a stream on standard output (-o -), for a program to read
// from a pipe: NUT holding raw video, which ffmpeg and ffplay probe without
// options. It keeps the exact rate and each frame's time, and the pixels as
// a PNG holds them (straight alpha, sRGB-encoded unless --output-colorspace
// says otherwise): rgba at 8 bits, rgba64le at 16. It carries no sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "standin/world.h"
#include "tools/tilvane/output/frame_sink.h"

namespace tilvane_tool {

// The output name that means standard output.
inline constexpr const char* kStandardOutputName = "-";
inline bool IsStreamOutput(const std::string& path) { return path == kStandardOutputName; }

// Throws UsageError when fd is a terminal, which a stream of pixels would fill
// with noise.
void CheckStreamOutput(int fd);

// A descriptor for the stream onto what standard output was, standard output
// then pointing at standard error: nothing else the process prints can reach
// the stream. Throws WriteError when standard output is closed.
int TakeStandardOutput();

// The stream's values have the frames' depth.
struct StreamOptions : FrameFormat {};

// One stream being written to a descriptor it closes when done. Each frame
// is flushed as it is written, so a viewer shows it at once.
class StreamWriter : public FrameWriter {
 public:
  // Writes the header. Throws WriteError.
  StreamWriter(int fd, const StreamOptions& options);
  ~StreamWriter() override;

  std::string describe() const override;
  // Throws WriteError naming standard output, how many frames it took, and
  // what to do: for a reader that stopped reading, a message of its own.
  void write(const standin::World& frame) override;
  // Writes the trailer and closes the descriptor. Throws WriteError.
  void finish() override;
  bool onDisk() const override { return false; }

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tilvane_tool
