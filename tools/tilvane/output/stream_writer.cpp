#include "tools/tilvane/output/stream_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/pixel_rows.h"
#include "tools/tilvane/output/av_handles.h"
#include "tools/tilvane/output/ordered_sink.h"

namespace tilvane_tool {
namespace {

constexpr int kBufferBytes = 1 << 16;

std::string Frames(int64_t n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

}  // namespace

void CheckStreamOutput(int fd) {
  if (isatty(fd)) {
    throw UsageError(
        "-o - writes the frames to standard output as a stream of raw pixels, which a terminal "
        "cannot show; pipe it into a program (e.g. '| ffmpeg -i - out.mp4'), or give -o a file "
        "name");
  }
}

int TakeStandardOutput() {
  std::fflush(stdout);
  const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) {
    throw WriteError("-o - has no standard output to write to (" +
                     std::generic_category().message(errno) +
                     "); pipe the output into a program, or give -o a file name");
  }
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    const int err = errno;
    close(fd);
    throw WriteError("-o -: standard output cannot be set aside for the stream (" +
                     std::generic_category().message(err) + "); give -o a file name");
  }
  return fd;
}

struct StreamWriter::State {
  int fd;
  StreamOptions options;
  AVPixelFormat pixelFormat;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format{nullptr,
                                                                      [](AVFormatContext* f) {
                                                                        if (!f) return;
                                                                        if (f->pb) {
                                                                          av_freep(&f->pb->buffer);
                                                                          avio_context_free(&f->pb);
                                                                        }
                                                                        avformat_free_context(f);
                                                                      }};
  AVStream* stream = nullptr;
  AVRational timeBase{1, 30};
  Packet packet{av_packet_alloc()};
  std::vector<uint16_t> words;  // a row of 16-bit values on its way into the packet
  int64_t written = 0;
  int writeError = 0;  // the system's error number of the first failed write

  State(int d, const StreamOptions& o)
      : fd(d), options(o), pixelFormat(o.depth == 16 ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA) {}
  ~State() {
    if (fd >= 0) close(fd);
  }

  // Every byte, or the error number kept and an error for the muxer.
  static int WriteOut(void* opaque, uint8_t* data, int size) {
    State& s = *static_cast<State*>(opaque);
    while (size > 0) {
      const ssize_t n = ::write(s.fd, data, static_cast<size_t>(size));
      if (n < 0) {
        if (errno == EINTR) continue;
        s.writeError = errno;
        return AVERROR(errno);
      }
      data += n;
      size -= static_cast<int>(n);
    }
    return 0;
  }

  [[noreturn]] void failed(const std::string& doing, int code) const {
    const std::string after = " after " + Frames(written);
    if (writeError == EPIPE) {
      throw WriteError("standard output was closed by the program reading it" + after +
                       "; let that program read the whole stream, or give --frames for fewer "
                       "frames");
    }
    const std::string reason = writeError ? std::generic_category().message(writeError)
                                          : doing + " failed (" + AvErrorText(code) + ")";
    throw WriteError("-o - (standard output) cannot be written" + after + ": " + reason +
                     "; check the program or file it goes to");
  }

  static std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
  }

  // The muxer's buffer out to the descriptor, so a reader has each frame whole.
  void flush(const std::string& doing, int code) {
    if (code >= 0) avio_flush(format->pb);
    if (code < 0 || format->pb->error < 0) failed(doing, code < 0 ? code : format->pb->error);
  }

  void open() {
    if (!packet) throw std::bad_alloc();
    // A packet's size is an int.
    if (frameBytes() > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) {
      throw UsageError("-o -: a " + std::to_string(options.width) + "x" +
                       std::to_string(options.height) + " frame at " +
                       std::to_string(options.depth) + " bits (" + ByteSize(frameBytes()) +
                       ") is larger than a stream's frame can be (2.1 GB); give a smaller --size, "
                       "or -o a file name");
    }
    av_log_set_level(AV_LOG_QUIET);  // failures are reported once, here
    AVFormatContext* f = nullptr;
    int r = avformat_alloc_output_context2(&f, nullptr, "nut", nullptr);
    if (r < 0 || !f) failed("setting up the stream", r);
    format.reset(f);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (!buffer) throw std::bad_alloc();
    f->pb = avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr, WriteOut, nullptr);
    if (!f->pb) {
      av_free(buffer);
      throw std::bad_alloc();
    }
    f->flags |= AVFMT_FLAG_CUSTOM_IO;
    stream = avformat_new_stream(f, nullptr);
    if (!stream) throw std::bad_alloc();
    // The exact rate: scale / step frames a second, one tick a frame.
    av_reduce(&timeBase.num, &timeBase.den, options.time.step(), options.time.scale(), INT32_MAX);
    AVCodecParameters& p = *stream->codecpar;
    p.codec_type = AVMEDIA_TYPE_VIDEO;
    p.codec_id = AV_CODEC_ID_RAWVIDEO;
    p.codec_tag = avcodec_pix_fmt_to_codec_tag(pixelFormat);
    p.format = pixelFormat;
    p.width = options.width;
    p.height = options.height;
    p.bits_per_coded_sample = av_get_bits_per_pixel(av_pix_fmt_desc_get(pixelFormat));
    p.sample_aspect_ratio = AVRational{1, 1};
    stream->time_base = timeBase;
    stream->avg_frame_rate = AVRational{timeBase.den, timeBase.num};
    stream->r_frame_rate = stream->avg_frame_rate;
    flush("writing the header", avformat_write_header(f, nullptr));
  }

  // The frame's rows as straight RGBA at its own depth, as a PNG holds them.
  void fill(const standin::World& frame, uint8_t* out) {
    const int32_t w = frame.width();
    const size_t rowBytes = static_cast<size_t>(w) * (options.depth == 16 ? 8 : 4);
    WithPixel(frame.depth(), [&](auto p) {
      using Pixel = decltype(p);
      for (int32_t y = 0; y < frame.height(); ++y) {
        const Pixel* row = RowOf<Pixel>(frame, y);
        uint8_t* to = out + static_cast<size_t>(y) * rowBytes;
        if constexpr (std::is_same_v<Pixel, PF_Pixel16>) {
          words.resize(static_cast<size_t>(w) * 4);
          FileRow(row, w, FileAlpha::Straight, 4, words.data());
          std::memcpy(to, words.data(), rowBytes);
        } else {
          FileRow(row, w, FileAlpha::Straight, 4, to);
        }
      }
    });
  }

  void write(const standin::World& rendered) {
    if (rendered.width() != options.width || rendered.height() != options.height ||
        rendered.depth() != options.depth) {
      throw std::logic_error("a frame of another size or depth than the stream's");
    }
    standin::WorldPtr converted;
    if (!options.colorSpace.empty() && !IsWorkingSpace(options.colorSpace)) {
      converted = FrameInSpace(rendered, options.colorSpace, "-o -");
    }
    if (av_new_packet(packet.get(), static_cast<int>(frameBytes())) < 0) throw std::bad_alloc();
    fill(converted ? *converted : rendered, packet->data);
    packet->pts = packet->dts = written;
    packet->duration = 1;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet.get(), timeBase, stream->time_base);
    const int r = av_write_frame(format.get(), packet.get());
    av_packet_unref(packet.get());
    flush("writing a frame", r);
    ++written;
  }

  int64_t frameBytes() const {
    return int64_t{options.width} * options.height * (options.depth == 16 ? 8 : 4);
  }

  void finish() {
    flush("writing the trailer", av_write_trailer(format.get()));
    if (close(std::exchange(fd, -1)) != 0) {
      writeError = errno;
      failed("closing", AVERROR(writeError));
    }
  }
};

StreamWriter::StreamWriter(int fd, const StreamOptions& options)
    : state_(std::make_unique<State>(fd, options)) {
  state_->open();
}

StreamWriter::~StreamWriter() = default;

std::string StreamWriter::describe() const {
  return std::string("NUT (rawvideo, ") + av_get_pix_fmt_name(state_->pixelFormat) + ")";
}

void StreamWriter::write(const standin::World& frame) { state_->write(frame); }

void StreamWriter::finish() { state_->finish(); }

struct StreamSink::Queue {
  StreamWriter writer;
  OrderedSink order;

  Queue(int fd, const StreamOptions& options, size_t frames, size_t window)
      : writer(fd, options),
        order([this](const standin::World& frame) { writer.write(frame); }, frames, window) {}
};

StreamSink::StreamSink(int fd, const StreamOptions& options, size_t frames, size_t window,
                       bool verbose)
    : queue_(std::make_unique<Queue>(fd, options, frames, window)) {
  if (verbose) {
    std::fprintf(stderr, "tilvane: writing standard output as %s\n",
                 queue_->writer.describe().c_str());
  }
}

StreamSink::~StreamSink() = default;

void StreamSink::put(size_t index, standin::World frame) {
  queue_->order.put(index, std::move(frame));
}

void StreamSink::abort() { queue_->order.abort(); }

void StreamSink::finish() {
  queue_->order.finish();
  queue_->writer.finish();
}

}  // namespace tilvane_tool
