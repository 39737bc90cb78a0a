#include "tools/tilvane/output/movie_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <type_traits>

#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/pixel_rows.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/output/av_handles.h"
#include "tools/tilvane/output/ordered_sink.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

// What a codec keeps of a frame, and what it needs of it.
struct Codec {
  const char* name;       // as --codec takes it
  const char* title;      // as messages name it
  const char* encoder;    // FFmpeg's encoder
  const char* extension;  // the container it goes in; the first listed is its default
  bool alpha;
  bool lossless;
  bool evenSize;  // 4:2:0 in these encoders needs an even width and height
  int bits;       // most bits per channel it takes
};
constexpr Codec kCodecs[] = {
    {"prores-4444", "ProRes 4444", "prores_ks", ".mov", true, false, false, 16},
    {"png", "PNG", "png", ".mov", true, true, false, 16},
    {"prores-422", "ProRes 422", "prores_ks", ".mov", false, false, false, 16},
    {"h264", "H.264", "libx264", ".mp4", false, false, true, 8},
    {"hevc", "HEVC", "libx265", ".mp4", false, false, true, 8},
    {"vp9", "VP9", "libvpx-vp9", ".webm", true, false, false, 8},
    {"ffv1", "FFV1", "ffv1", ".mkv", true, true, false, 16},
    {"gif", "GIF", "gif", ".gif", true, false, false, 8},
};

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The codecs a container takes, its default first.
std::vector<std::string> CodecsIn(std::string_view ext) {
  std::vector<std::string> names;
  for (const Codec& c : kCodecs) {
    if (ext == c.extension) names.push_back(c.name);
  }
  return names;
}

const Codec& ChooseCodec(const std::string& path, const std::string& given) {
  const std::string ext = ExtensionOf(path);
  const std::vector<std::string> names = CodecsIn(ext);
  const std::string wanted = given.empty() ? names.front() : Slug(given);
  for (const Codec& c : kCodecs) {
    if (ext == c.extension && wanted == c.name) return c;
  }
  std::string elsewhere;
  for (const Codec& c : kCodecs) {
    if (wanted == c.name) elsewhere = "; " + std::string(c.title) + " goes in " + c.extension;
  }
  throw UsageError("--codec " + Quoted(given) + " cannot be written to a " + ext + " movie" +
                   DidYouMean(wanted, names) + "; give " + OrList(names) + elsewhere);
}

// --quality 0-100 on each codec's own scale, as encoder options; `shown`
// says what was chosen.
struct Tuning {
  std::vector<std::pair<std::string, std::string>> options;
  std::string shown;
  std::string dither = "sierra2_4a";  // GIF
};

int Scaled(int quality, int worst) {
  // 100 is the best the scale offers (0), 0 its worst.
  return static_cast<int>(std::lround((100 - quality) * worst / 100.0));
}

Tuning Tune(const Codec& codec, std::optional<int> quality) {
  Tuning t;
  const std::string name = codec.name;
  if (name == "prores-4444") {
    const char* profile = quality && *quality >= 90 ? "4444xq" : "4444";
    t.options = {{"profile", profile}, {"vendor", "apl0"}};
    t.shown = std::string("profile ") + profile;
  } else if (name == "prores-422") {
    const int q = quality.value_or(100);
    const char* profile = q < 25 ? "proxy" : q < 50 ? "lt" : q < 75 ? "standard" : "hq";
    t.options = {{"profile", profile}, {"vendor", "apl0"}};
    t.shown = std::string("profile ") + profile;
  } else if (name == "h264" || name == "hevc") {
    const int crf = quality ? Scaled(*quality, 51) : name == "h264" ? 18 : 22;
    t.options = {{"crf", std::to_string(crf)}, {"preset", "medium"}};
    if (name == "hevc") t.options.push_back({"x265-params", "log-level=error"});
    t.shown = "crf " + std::to_string(crf);
  } else if (name == "vp9") {
    const int crf = quality ? Scaled(*quality, 63) : 31;
    // Constant quality: no bit rate target.
    t.options = {{"crf", std::to_string(crf)}, {"b", "0"}, {"row-mt", "1"}};
    t.shown = "crf " + std::to_string(crf);
  } else if (name == "gif") {
    const int q = quality.value_or(100);
    t.dither = q >= 67 ? "sierra2_4a" : q >= 34 ? "bayer:bayer_scale=2" : "none";
    t.shown = "dither " + t.dither.substr(0, t.dither.find(':'));
  } else {
    t.shown = "lossless";
    if (name == "ffv1") t.options = {{"level", "3"}, {"slicecrc", "1"}};
  }
  return t;
}

AVPixelFormat EncodedFormat(const Codec& codec, int depth) {
  const std::string name = codec.name;
  if (name == "prores-4444") return AV_PIX_FMT_YUVA444P10LE;
  if (name == "prores-422") return AV_PIX_FMT_YUV422P10LE;
  if (name == "png") return depth == 16 ? AV_PIX_FMT_RGBA64BE : AV_PIX_FMT_RGBA;
  if (name == "ffv1") return depth == 16 ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_BGRA;
  if (name == "vp9") return AV_PIX_FMT_YUVA420P;
  if (name == "gif") return AV_PIX_FMT_PAL8;
  return AV_PIX_FMT_YUV420P;
}

bool IsYuv(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && d->nb_components >= 3;
}

using Graph = std::unique_ptr<AVFilterGraph, Freed<AVFilterGraph, avfilter_graph_free>>;

void FreeFormat(AVFormatContext* f) {
  if (!f) return;
  if (f->pb) avio_closep(&f->pb);
  avformat_free_context(f);
}

}  // namespace

std::string MovieCodecName(const std::string& path, const std::string& codec) {
  return ChooseCodec(path, codec).name;
}

std::string CodecsByContainer() {
  std::string text;
  for (const MovieContainer& container : kMovieContainers) {
    std::vector<std::string> names = CodecsIn(container.extension);
    if (names.size() > 1) names.front() += " (default)";
    text += (text.empty() ? "" : "; ") + std::string(container.extension) + " " + OrList(names);
  }
  return text;
}

std::vector<std::string> MovieCodecNames() {
  std::vector<std::string> names;
  for (const Codec& c : kCodecs) names.emplace_back(c.name);
  return names;
}

struct MovieWriter::State {
  std::string path;
  MovieOptions options;
  const Codec* codec = nullptr;
  Tuning tuning;
  StreamedOutput out;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format{nullptr, FreeFormat};
  AVStream* stream = nullptr;
  CodecContext encoder;
  Packet packet{av_packet_alloc()};
  SwsContext* scaler = nullptr;
  Graph graph;  // GIF: the palette of the whole movie, then each frame mapped to it
  AVFilterContext* graphIn = nullptr;
  AVFilterContext* graphOut = nullptr;
  AVPixelFormat straightFormat = AV_PIX_FMT_RGBA;  // what the scaler takes
  AVPixelFormat encodedFormat = AV_PIX_FMT_NONE;
  int straightDepth = 8;
  int32_t width = 0;  // encoded: padded to even where the codec needs it
  int32_t height = 0;
  std::vector<unsigned char> straight;
  std::vector<uint16_t> words;        // a row of 16-bit values on its way into straight
  std::unique_ptr<AudioTrack> audio;  // writes into format, so it goes first
  int64_t written = 0;
  bool warnedAlpha = false;
  bool finished = false;

  State(const std::string& p, const MovieOptions& o) : path(p), options(o), out(p) {}
  ~State() {
    if (scaler) sws_freeContext(scaler);
  }

  [[noreturn]] void failed(const std::string& doing, int code) const {
    // An error of the file system gets the same message as an image's.
    if (format && format->pb && format->pb->error < 0) out.failed(-format->pb->error);
    if (code < 0 && code > -4096 && AVERROR(-code) == code &&
        (-code == ENOSPC || -code == EDQUOT || -code == EFBIG || -code == EIO)) {
      out.failed(-code);
    }
    throw WriteError("-o " + Quoted(path) + " cannot be written: " + doing + " failed (" +
                     AvError(code) + "); check the disk and the --codec");
  }

  void openGraph() {
    graph.reset(avfilter_graph_alloc());
    if (!graph) throw std::bad_alloc();
    char args[256];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1",
                  width, height, static_cast<int>(AV_PIX_FMT_RGBA), encoder->time_base.num,
                  encoder->time_base.den);
    int r = avfilter_graph_create_filter(&graphIn, avfilter_get_by_name("buffer"), "in", args,
                                         nullptr, graph.get());
    if (r >= 0) {
      r = avfilter_graph_create_filter(&graphOut, avfilter_get_by_name("buffersink"), "out",
                                       nullptr, nullptr, graph.get());
    }
    const AVPixelFormat palette[] = {AV_PIX_FMT_PAL8, AV_PIX_FMT_NONE};
    if (r >= 0) {
      r = av_opt_set_int_list(graphOut, "pix_fmts", palette, AV_PIX_FMT_NONE,
                              AV_OPT_SEARCH_CHILDREN);
    }
    // One palette from every pixel of every frame, with a slot kept for
    // transparency; pixels under half alpha become transparent.
    const std::string chain =
        "split[a][b];[a]palettegen=stats_mode=full:reserve_transparent=1[p];"
        "[b][p]paletteuse=alpha_threshold=128:dither=" +
        tuning.dither;
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (r >= 0 && outputs && inputs) {
      outputs->name = av_strdup("in");
      outputs->filter_ctx = graphIn;
      inputs->name = av_strdup("out");
      inputs->filter_ctx = graphOut;
      r = avfilter_graph_parse_ptr(graph.get(), chain.c_str(), &inputs, &outputs, nullptr);
    } else if (r >= 0) {
      r = AVERROR(ENOMEM);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (r >= 0) r = avfilter_graph_config(graph.get(), nullptr);
    if (r < 0) failed("setting up the GIF palette", r);
  }

  void open() {
    chooseFormats();
    av_log_set_level(AV_LOG_QUIET);  // failures are reported once, here
    openEncoder();
    if (options.audio) {
      if (!TakesSound(path)) throw std::logic_error("a sound for a movie that carries none");
      audio = std::make_unique<AudioTrack>(
          *options.audio, format.get(),
          [this](const std::string& doing, int code) { failed(doing, code); });
    }
    if (encodedFormat == AV_PIX_FMT_PAL8) {
      openGraph();
    } else {
      openScaler();
    }
    openFile();
  }

  // The codec, its tuning, the pixel formats and the encoded size.
  void chooseFormats() {
    codec = &ChooseCodec(path, options.codec);
    tuning = Tune(*codec, options.quality);
    // x265 sets the decode times of a movie of fewer frames than its B-frame
    // delay (2) from a value it never initialised, which MP4 then refuses;
    // without B-frames it does not read it.
    if (std::string(codec->name) == "hevc" && options.frames <= 2) {
      for (auto& [key, value] : tuning.options) {
        if (key == "x265-params") value += ":bframes=0";
      }
    }
    encodedFormat = EncodedFormat(*codec, options.depth);
    straightDepth = options.depth == 16 && codec->bits > 8 ? 16 : 8;
    straightFormat = straightDepth == 16 ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    width = options.width;
    height = options.height;
    if (codec->evenSize && (width % 2 || height % 2)) {
      width += width % 2;
      height += height % 2;
      Warn("-o " + Quoted(path) + ": " + codec->title + " needs an even width and height; the " +
           std::to_string(options.width) + "x" + std::to_string(options.height) +
           " frames are padded to " + std::to_string(width) + "x" + std::to_string(height) +
           " by repeating their last column and row (give an even --size, or --codec for "
           "another codec, to avoid it)");
    }
    if (options.quality && codec->lossless) {
      Warn(std::string("--quality has no effect on ") + codec->title +
           ", which is lossless; the frames are kept exactly");
    }
  }

  // The container, the encoder and its stream.
  void openEncoder() {
    const MovieContainer& container = *ContainerOf(path);
    const AVCodec* found = avcodec_find_encoder_by_name(codec->encoder);
    if (!found) {
      throw UsageError("-o " + Quoted(path) + ": this FFmpeg has no " + codec->encoder +
                       " encoder for " + codec->title + "; install one with it or give --codec");
    }
    AVFormatContext* f = nullptr;
    int r = avformat_alloc_output_context2(&f, nullptr, container.muxer, nullptr);
    if (r < 0 || !f) failed("setting up the container", r);
    format.reset(f);
    stream = avformat_new_stream(f, nullptr);
    encoder.reset(avcodec_alloc_context3(found));
    if (!stream || !encoder) throw std::bad_alloc();

    AVCodecContext& c = *encoder;
    c.width = width;
    c.height = height;
    c.pix_fmt = encodedFormat;
    c.sample_aspect_ratio = AVRational{1, 1};
    // The exact rate: scale / step frames a second, one tick a frame.
    av_reduce(&c.time_base.num, &c.time_base.den, options.time.step(), options.time.scale(),
              INT32_MAX);
    c.framerate = AVRational{c.time_base.den, c.time_base.num};
    c.thread_count = 0;
    if (IsYuv(encodedFormat)) {
      c.color_primaries = AVCOL_PRI_BT709;
      c.color_trc = AVCOL_TRC_BT709;
      c.colorspace = AVCOL_SPC_BT709;
      c.color_range = AVCOL_RANGE_MPEG;
    }
    if (f->oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    for (const auto& [key, value] : tuning.options)
      av_dict_set(&opts, key.c_str(), value.c_str(), 0);
    r = avcodec_open2(&c, found, &opts);
    av_dict_free(&opts);
    if (r < 0) failed(std::string("opening the ") + codec->encoder + " encoder", r);
    r = avcodec_parameters_from_context(stream->codecpar, &c);
    if (r < 0) failed("setting up the stream", r);
    stream->time_base = c.time_base;
    stream->avg_frame_rate = c.framerate;
    stream->r_frame_rate = c.framerate;
    // Players on Apple systems take HEVC in MP4 only with this tag.
    if (std::string(codec->name) == "hevc") stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
  }

  void openScaler() {
    scaler =
        sws_getContext(width, height, straightFormat, width, height, encodedFormat,
                       SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
    if (!scaler) failed("setting up the pixel conversion", AVERROR(EINVAL));
    if (IsYuv(encodedFormat)) {
      // RGB in full range, YUV out with BT.709's matrix in limited range, as tagged.
      const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
      sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
  }

  // The muxer opens the file by name: a movie's index is written by seeking
  // back, and MP4's moved to the front by reading it again.
  void openFile() {
    AVFormatContext* f = format.get();
    const MovieContainer& container = *ContainerOf(path);
    const std::string url = "file:" + out.temporaryPath();
    f->url = av_strdup(url.c_str());
    int r = avio_open2(&f->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (r < 0) failed("opening the temporary file", r);
    AVDictionary* muxing = nullptr;
    if (std::string(container.muxer) == "mp4" || std::string(container.muxer) == "mov") {
      av_dict_set(&muxing, "movflags", "+faststart+write_colr", 0);
    }
    r = avformat_write_header(f, &muxing);
    av_dict_free(&muxing);
    if (r < 0) failed("writing the header", r);
  }

  // The frame as straight (or, for a codec without alpha, premultiplied: over
  // black) RGBA at straightDepth, padded by repeating the last column and row.
  void fillStraight(const standin::World& frame) {
    const size_t pixel = straightDepth == 16 ? 8 : 4;
    const size_t rowBytes = static_cast<size_t>(width) * pixel;
    const int32_t given = std::min(frame.width(), width);
    const FileAlpha alpha = codec->alpha ? FileAlpha::Straight : FileAlpha::OverBlack;
    straight.resize(rowBytes * height);
    bool transparent = false;
    WithPixel(frame.depth(), [&](auto p) {
      using Pixel = decltype(p);
      for (int32_t y = 0; y < height; ++y) {
        const Pixel* row = RowOf<Pixel>(frame, std::min(y, frame.height() - 1));
        unsigned char* out = &straight[static_cast<size_t>(y) * rowBytes];
        transparent = transparent || AnyTransparent(row, given);
        if constexpr (std::is_same_v<Pixel, PF_Pixel16>) {
          if (straightDepth == 16) {
            words.resize(static_cast<size_t>(given) * 4);
            FileRow(row, given, alpha, 4, words.data());
            std::memcpy(out, words.data(), words.size() * sizeof(uint16_t));
          } else {
            FileRow(row, given, alpha, 4, out);
          }
        } else {
          FileRow(row, given, alpha, 4, out);
        }
        for (int32_t x = given; x < width; ++x) {
          std::memcpy(out + x * pixel, out + (given - 1) * pixel, pixel);
        }
      }
    });
    if (transparent && !codec->alpha && !warnedAlpha) {
      warnedAlpha = true;
      Warn("-o " + Quoted(path) + ": " + codec->title +
           " keeps no alpha, so the transparent parts are laid over black; for alpha use " +
           ".mov (prores-4444 or png), .webm, .mkv or .gif");
    }
  }

  void writePackets() {
    for (;;) {
      int r = avcodec_receive_packet(encoder.get(), packet.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) failed(std::string("encoding with ") + codec->encoder, r);
      if (packet->duration == 0) packet->duration = 1;  // every frame lasts one frame
      av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
      packet->stream_index = stream->index;
      r = av_interleaved_write_frame(format.get(), packet.get());
      if (r < 0 || format->pb->error < 0) failed("writing a frame", r < 0 ? r : format->pb->error);
    }
  }

  void encode(AVFrame* frame) {
    const int r = avcodec_send_frame(encoder.get(), frame);
    if (r < 0) failed(std::string("encoding with ") + codec->encoder, r);
    writePackets();
  }

  // GIF: frames come out of the palette filter only once it has seen them all.
  void drainGraph() {
    for (;;) {
      Frame mapped(av_frame_alloc());
      if (!mapped) throw std::bad_alloc();
      const int r = av_buffersink_get_frame(graphOut, mapped.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) failed("making the GIF palette", r);
      encode(mapped.get());
    }
  }

  void write(const standin::World& rendered) {
    if (written >= options.frames) {
      throw std::logic_error("more frames given to the movie than it was opened for");
    }
    standin::WorldPtr converted;
    if (!options.colorSpace.empty() && !IsWorkingSpace(options.colorSpace)) {
      converted = FrameInSpace(rendered, options.colorSpace, "-o " + Quoted(path));
    }
    fillStraight(converted ? *converted : rendered);
    Frame frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    frame->pts = written;
    frame->width = width;
    frame->height = height;
    const uint8_t* src[4] = {straight.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {width * (straightDepth == 16 ? 8 : 4), 0, 0, 0};
    if (graph) {
      frame->format = AV_PIX_FMT_RGBA;
      if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
      av_image_copy(frame->data, frame->linesize, src, srcStride, AV_PIX_FMT_RGBA, width, height);
      const int r = av_buffersrc_add_frame_flags(graphIn, frame.get(), 0);
      if (r < 0) failed("making the GIF palette", r);
      drainGraph();
    } else {
      frame->format = encodedFormat;
      frame->color_primaries = encoder->color_primaries;
      frame->color_trc = encoder->color_trc;
      frame->colorspace = encoder->colorspace;
      frame->color_range = encoder->color_range;
      if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
      sws_scale(scaler, src, srcStride, 0, height, frame->data, frame->linesize);
      encode(frame.get());
    }
    ++written;
    // The sound up to the end of this frame, to interleave with it.
    if (audio) audio->writeUntil({options.time.timeOf(written), options.time.scale()});
  }

  void finish() {
    if (written != options.frames) {
      throw std::logic_error("the movie was finished before all its frames came");
    }
    if (graph) {
      const int r = av_buffersrc_add_frame_flags(graphIn, nullptr, 0);
      if (r < 0) failed("making the GIF palette", r);
      drainGraph();
    }
    encode(nullptr);
    if (audio) audio->finish();
    int r = av_write_trailer(format.get());
    if (r < 0 || format->pb->error < 0)
      failed("writing the trailer", r < 0 ? r : format->pb->error);
    r = avio_closep(&format->pb);
    if (r < 0) failed("closing the file", r);
    out.commit();
    finished = true;
  }
};

MovieWriter::MovieWriter(const std::string& path, const MovieOptions& options)
    : state_(std::make_unique<State>(path, options)) {
  state_->open();
}

MovieWriter::~MovieWriter() = default;

std::string MovieWriter::describe() const {
  const State& s = *state_;
  return std::string(s.codec->title) + " (" + s.codec->encoder + ", " +
         av_get_pix_fmt_name(s.encodedFormat) + ", " + s.tuning.shown + ")" +
         (s.audio ? " with " + s.audio->describe() : "");
}

void MovieWriter::write(const standin::World& frame) { state_->write(frame); }

void MovieWriter::finish() { state_->finish(); }

struct MovieSink::Queue {
  MovieWriter writer;
  OrderedSink order;

  Queue(const std::string& path, const MovieOptions& options, size_t window)
      : writer(path, options),
        order([this](const standin::World& frame) { writer.write(frame); },
              static_cast<size_t>(options.frames), window) {}
};

MovieSink::MovieSink(const std::string& path, const MovieOptions& options, size_t window)
    : queue_(std::make_unique<Queue>(path, options, window)) {
  if (options.verbose) {
    std::fprintf(stderr, "tilvane: writing %s as %s\n", Quoted(path).c_str(),
                 queue_->writer.describe().c_str());
  }
}

MovieSink::~MovieSink() = default;

void MovieSink::put(size_t index, standin::World frame) {
  queue_->order.put(index, std::move(frame));
}

void MovieSink::abort() { queue_->order.abort(); }

void MovieSink::finish() {
  queue_->order.finish();
  queue_->writer.finish();
}

}  // namespace tilvane_tool
