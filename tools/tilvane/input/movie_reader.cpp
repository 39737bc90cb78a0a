#include "tools/tilvane/input/movie_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace fs = std::filesystem;
namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

struct MovieReader::State {
  std::string option;
  std::string path;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;
  int stream = -1;
  int64_t count = 0;
  // Presentation timestamps of all frames, sorted, and those of the key
  // frames; both empty when some packet has none, and then frames are counted
  // in the order the decoder gives them, from the start.
  std::vector<int64_t> times;
  std::vector<int64_t> keys;
  int rotation = 0;       // clockwise quarter turns that show the picture as players do
  int64_t seeks = 0;      // seeks made to read frames
  int64_t last = -1;      // the index of the frame decoded last, -1 after a seek
  int64_t counted = 0;    // frames decoded since the start, without timestamps
  MovieTimes shown;       // when each picture shows
  bool flushing = false;  // the end of the file was met and the decoder is draining
  // The frames decoded last, by index: threads rendering neighbouring frames
  // ask for them a little out of order, which must not cost a seek each time.
  static constexpr size_t kRecent = 16;
  std::array<std::pair<int64_t, AVFrame*>, kRecent> recent{};
  size_t nextRecent = 0;

  ~State() {
    for (auto& [index, kept] : recent) av_frame_free(&kept);
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw UsageError(option + " '" + path + "' " + what);
  }

  void openFile() {
    avformat_close_input(&format);
    if (int err = avformat_open_input(&format, path.c_str(), nullptr, nullptr); err < 0) {
      fail("cannot be read as a movie (" + AvError(err) + "); check that the file is complete");
    }
    if (int err = avformat_find_stream_info(format, nullptr); err < 0) {
      fail("cannot be read as a movie (" + AvError(err) + "); check that the file is complete");
    }
    flushing = false;
    last = -1;
    counted = 0;
  }

  void open() {
    openFile();
    const AVCodec* decoder = nullptr;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0 || !decoder) {
      fail("has no video stream this build can decode; give a movie with video, or an image");
    }
    CheckColor();
    decoder = AlphaDecoder(*decoder);
    rotation = QuarterTurns();
    codec = avcodec_alloc_context3(decoder);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!codec || !packet || !frame) fail("cannot be read: out of memory");
    avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
    codec->thread_count = 0;  // as many as the machine has
    if (int err = avcodec_open2(codec, decoder, nullptr); err < 0) {
      fail("cannot be decoded (" + AvError(err) + "); give a movie in a common format");
    }
    if (codec->width <= 0 || codec->height <= 0) {
      fail("has no pixels; give a movie at least one pixel wide and high");
    }
    index();
  }

  // The movie's name with "-bt709" before its extension, beside it: where
  // the commands suggested below write the converted copy.
  std::string ConvertedName() const {
    fs::path converted(path);
    converted.replace_filename(converted.stem().string() + "-bt709" +
                               converted.extension().string());
    return converted.string();
  }

  // Pictures are read as BT.709, as players read untagged SDR video. A PQ or
  // HLG picture holds light far above that range: read so, it looks dark and
  // washed out, and how to bring it down is a look the user picks, so it is
  // refused with a command that makes a BT.709 copy. BT.2020 primaries with
  // an SDR curve only look less saturated than meant: warned about.
  void CheckColor() const {
    const AVCodecParameters& par = *format->streams[stream]->codecpar;
    const bool pq = par.color_trc == AVCOL_TRC_SMPTE2084;
    const bool hlg = par.color_trc == AVCOL_TRC_ARIB_STD_B67;
    const bool wide = par.color_primaries == AVCOL_PRI_BT2020;
    if (pq || hlg) {
      const char* primaries = av_color_primaries_name(par.color_primaries);
      fail(std::string("is HDR video (") + (pq ? "PQ" : "HLG") + " transfer, " +
           (wide                                                         ? std::string("BT.2020")
            : par.color_primaries == AVCOL_PRI_UNSPECIFIED || !primaries ? std::string("untagged")
                                                                         : std::string(primaries)) +
           " primaries), which this tool reads only as BT.709 SDR; make a BT.709 copy first, "
           "e.g. ffmpeg -i " +
           Quoted(path) +
           " -vf zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=hable:desat=0,"
           "zscale=t=bt709:m=bt709:r=tv,format=yuv420p " +
           Quoted(ConvertedName()));
    }
    if (wide) {
      Warn(option + " " + Quoted(path) +
           " has BT.2020 primaries and is read as BT.709, so its colours show less saturated "
           "than meant; for a BT.709 copy: ffmpeg -i " +
           Quoted(path) + " -vf colorspace=all=bt709:format=yuv420p " + Quoted(ConvertedName()));
    }
  }

  // VP8 and VP9 carry alpha in a side channel that only libvpx's decoders
  // read; the container says so ("alpha_mode" in WebM and Matroska).
  const AVCodec* AlphaDecoder(const AVCodec& chosen) const {
    const AVStream& st = *format->streams[stream];
    const AVDictionaryEntry* mode = av_dict_get(st.metadata, "alpha_mode", nullptr, 0);
    if (!mode || std::string_view(mode->value) != "1") return &chosen;
    const AVCodecID id = st.codecpar->codec_id;
    if (id != AV_CODEC_ID_VP8 && id != AV_CODEC_ID_VP9) return &chosen;
    const AVCodec* vpx =
        avcodec_find_decoder_by_name(id == AV_CODEC_ID_VP8 ? "libvpx" : "libvpx-vp9");
    if (!vpx) {
      fail(
          "has an alpha channel that only libvpx's decoder reads, and this build has none; "
          "install FFmpeg with libvpx, or give the frames as PNG images");
    }
    return vpx;
  }

  // The display matrix's turn, as players apply it: 0 to 3 clockwise
  // quarter turns. Another angle is warned about and not applied.
  int QuarterTurns() const {
    const AVStream& st = *format->streams[stream];
    const auto* matrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(&st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix) return 0;
    // The matrix turns counterclockwise by this angle.
    const double angle = av_display_rotation_get(matrix);
    if (std::isnan(angle)) return 0;
    const double clockwise = std::fmod(std::fmod(-angle, 360.0) + 360.0, 360.0);
    const long turns = std::lround(clockwise / 90.0);
    if (std::fabs(clockwise - 90.0 * static_cast<double>(turns)) > 1.0) {
      std::fprintf(stderr,
                   "tilvane: warning: %s '%s' asks to be shown turned %.1f degrees clockwise; only "
                   "quarter turns are applied, so it is read as stored\n",
                   option.c_str(), path.c_str(), clockwise);
      return 0;
    }
    return static_cast<int>(turns % 4);
  }

  // One pass over the packets, without decoding: how many frames, and when.
  void index() {
    bool timed = true;
    int64_t end = AV_NOPTS_VALUE;  // the latest a picture ends, where packets say
    while (av_read_frame(format, packet) >= 0) {
      if (packet->stream_index == stream) {
        ++count;
        if (packet->pts == AV_NOPTS_VALUE) {
          timed = false;
        } else {
          times.push_back(packet->pts);
          if (packet->flags & AV_PKT_FLAG_KEY) keys.push_back(packet->pts);
          if (packet->duration > 0) end = std::max(end, packet->pts + packet->duration);
        }
      }
      av_packet_unref(packet);
    }
    if (count == 0) fail("has no video frames; give a movie with at least one frame");
    if (!timed || keys.empty()) {
      times.clear();
      keys.clear();
    }
    std::sort(times.begin(), times.end());
    std::sort(keys.begin(), keys.end());
    timeline(end);
    WarnIfCutShort();
    rewind();
  }

  // The pictures' times from the first: the packets' own, or without them
  // one a frame at the stream's rate.
  void timeline(int64_t end) {
    const AVStream& st = *format->streams[stream];
    const AVRational real =
        st.r_frame_rate.num > 0 && st.r_frame_rate.den > 0 ? st.r_frame_rate : st.avg_frame_rate;
    shown.rate = MakeRate(real.num, real.den).value_or(Rate{});
    if (times.empty()) {
      shown.tickNum = shown.rate.den;
      shown.tickDen = shown.rate.num;
      for (int64_t i = 0; i < count; ++i) shown.starts.push_back(i);
      shown.end = count;
      return;
    }
    shown.tickNum = st.time_base.num;
    shown.tickDen = st.time_base.den;
    const int64_t first = times.front();
    for (int64_t t : times) shown.starts.push_back(t - first);
    // A last picture of unknown length lasts one frame at the stream's rate.
    const int64_t frame = std::max<int64_t>(
        1, av_rescale_q(
               1, AVRational{static_cast<int>(shown.rate.den), static_cast<int>(shown.rate.num)},
               st.time_base));
    shown.end = std::max(end == AV_NOPTS_VALUE ? 0 : end - first, shown.starts.back() + frame);
  }

  // The stream's length as its container wrote it, in seconds; 0 when it
  // says none.
  double PromisedSeconds() const {
    const AVStream& st = *format->streams[stream];
    if (st.duration != AV_NOPTS_VALUE && st.duration > 0) return st.duration * av_q2d(st.time_base);
    // The file's length is the picture's only when nothing else plays.
    if (format->nb_streams == 1 && format->duration != AV_NOPTS_VALUE && format->duration > 0) {
      return static_cast<double>(format->duration) / AV_TIME_BASE;
    }
    // Matroska's per-track length, "HH:MM:SS.fraction".
    if (const AVDictionaryEntry* tag = av_dict_get(st.metadata, "DURATION", nullptr, 0)) {
      int h = 0, m = 0;
      double sec = 0;
      if (std::sscanf(tag->value, "%d:%d:%lf", &h, &m, &sec) == 3) {
        return h * 3600.0 + m * 60.0 + sec;
      }
    }
    return 0;
  }

  // A file cut short keeps the length its container wrote at the start: the
  // frames past the cut are simply not there, which is said rather than
  // rendered around in silence. A frame count is compared as it is; a length
  // with two frames to spare, at the stream's rate.
  void WarnIfCutShort() const {
    const AVStream& st = *format->streams[stream];
    const double rate = static_cast<double>(shown.rate.num) / static_cast<double>(shown.rate.den);
    int64_t promised = 0;
    if (st.nb_frames > 0) {
      promised = st.nb_frames;
      if (promised <= count) return;
    } else {
      const double seconds = PromisedSeconds();
      const double held = static_cast<double>(shown.end) * static_cast<double>(shown.tickNum) /
                          static_cast<double>(shown.tickDen);
      if (rate <= 0 || seconds <= held + 2 / rate) return;
      promised = std::llround(seconds * rate);
    }
    Warn(option + " " + Quoted(path) + " holds " + std::to_string(count) +
         " frames, but its container promises " + std::to_string(promised) +
         "; the file may be cut short, and the layer ends at its frame " +
         std::to_string(count - 1) + "; check the file, or copy it again");
  }

  void rewind() {
    if (av_seek_frame(format, stream, times.empty() ? 0 : times.front(), AVSEEK_FLAG_BACKWARD) <
        0) {
      openFile();
    }
    avcodec_flush_buffers(codec);
    flushing = false;
    last = -1;
    counted = 0;
  }

  // Positions the decoder so that decoding forward reaches frame index soonest.
  void seekFor(int64_t index) {
    if (times.empty()) {
      if (index <= last) {
        ++seeks;
        rewind();
      }
      return;
    }
    const int64_t target = times[static_cast<size_t>(index)];
    const auto key = std::upper_bound(keys.begin(), keys.end(), target);
    const int64_t keyTime = key == keys.begin() ? times.front() : *(key - 1);
    // Forward within reach: the key frame before the target is no later than
    // the next frame the decoder gives.
    if (last >= 0 && index > last && keyTime <= times[static_cast<size_t>(last + 1)]) return;
    ++seeks;
    if (av_seek_frame(format, stream, keyTime, AVSEEK_FLAG_BACKWARD) < 0) {
      rewind();
      return;
    }
    avcodec_flush_buffers(codec);
    flushing = false;
    last = -1;
  }

  int64_t indexOf(const AVFrame& f) {
    if (times.empty()) return counted++;
    const int64_t t = f.best_effort_timestamp != AV_NOPTS_VALUE ? f.best_effort_timestamp : f.pts;
    // Frames sharing a timestamp follow one another.
    const auto next = static_cast<size_t>(last + 1);
    if (last >= 0 && next < times.size() && times[next] == t) return last + 1;
    const auto at = std::lower_bound(times.begin(), times.end(), t);
    if (at != times.end() && *at == t) return at - times.begin();
    return at == times.begin() ? 0 : (at - times.begin()) - 1;
  }

  // Feeds the decoder the next packet of the stream, or the end of the file.
  void feed(int64_t index) {
    while (!flushing) {
      const int err = av_read_frame(format, packet);
      if (err < 0) {
        flushing = true;
        avcodec_send_packet(codec, nullptr);  // drains the frames held for reordering
        return;
      }
      const bool ours = packet->stream_index == stream;
      const int sent = ours ? avcodec_send_packet(codec, packet) : 0;
      av_packet_unref(packet);
      if (sent < 0 && sent != AVERROR_INVALIDDATA) {
        fail("frame " + std::to_string(index) + " cannot be decoded (" + AvError(sent) +
             "); check that the file is complete");
      }
      if (ours) return;
    }
  }

  void remember(int64_t index, const AVFrame& f) {
    auto& [at, kept] = recent[nextRecent];
    av_frame_free(&kept);
    kept = av_frame_clone(&f);  // a new reference to the same buffers
    at = kept ? index : -1;
    nextRecent = (nextRecent + 1) % kRecent;
  }

  const AVFrame* recalled(int64_t index) const {
    for (const auto& [at, kept] : recent) {
      if (kept && at == index) return kept;
    }
    return nullptr;
  }

  MoviePicture convert(const AVFrame& f) {
    const auto source = static_cast<AVPixelFormat>(f.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(source);
    const int bits = desc && desc->comp[0].depth > 8 ? 16 : 8;
    const AVPixelFormat target = bits == 16 ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    scaler = sws_getCachedContext(scaler, f.width, f.height, source, f.width, f.height, target,
                                  SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                  nullptr, nullptr);
    if (!scaler) fail("has a pixel format this build cannot convert; re-encode the movie");
    // Untagged video is BT.709 from HD sizes up, BT.601 below, as players assume.
    const int matrix = f.colorspace != AVCOL_SPC_UNSPECIFIED ? f.colorspace
                       : f.height >= 720                     ? SWS_CS_ITU709
                                                             : SWS_CS_ITU601;
    sws_setColorspaceDetails(scaler, sws_getCoefficients(matrix),
                             f.color_range == AVCOL_RANGE_JPEG ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    MoviePicture picture;
    picture.width = f.width;
    picture.height = f.height;
    picture.bits = bits;
    const int rowBytes = f.width * 4 * (bits / 8);
    picture.data.resize(static_cast<size_t>(rowBytes) * static_cast<size_t>(f.height));
    uint8_t* planes[4] = {picture.data.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {rowBytes, 0, 0, 0};
    sws_scale(scaler, f.data, f.linesize, 0, f.height, planes, strides);
    return Turned(std::move(picture), rotation);
  }

  // The picture turned clockwise by quarter turns.
  static MoviePicture Turned(MoviePicture in, int turns) {
    if (turns == 0) return in;
    const size_t px = static_cast<size_t>(in.bits / 2);  // bytes per pixel: 4 or 8
    MoviePicture out;
    out.bits = in.bits;
    out.width = turns == 2 ? in.width : in.height;
    out.height = turns == 2 ? in.height : in.width;
    out.data.resize(in.data.size());
    for (int32_t y = 0; y < in.height; ++y) {
      for (int32_t x = 0; x < in.width; ++x) {
        // Where source pixel (x, y) lands.
        const int32_t tx = turns == 1 ? in.height - 1 - y : turns == 2 ? in.width - 1 - x : y;
        const int32_t ty = turns == 1 ? x : turns == 2 ? in.height - 1 - y : in.width - 1 - x;
        std::memcpy(&out.data[(static_cast<size_t>(ty) * out.width + tx) * px],
                    &in.data[(static_cast<size_t>(y) * in.width + x) * px], px);
      }
    }
    return out;
  }
};

MovieReader::MovieReader(const std::string& option, const std::string& path)
    : state_(std::make_unique<State>()) {
  // FFmpeg's own reports go through this hook, which drops them: the caller
  // reports each failure once, in its own words, and nothing else on standard
  // error is touched.
  static std::once_flag hooked;
  std::call_once(hooked, [] { av_log_set_callback([](void*, int, const char*, va_list) {}); });
  state_->option = option;
  state_->path = path;
  state_->open();
}

MovieReader::~MovieReader() = default;

int64_t MovieReader::frameCount() const { return state_->count; }
const MovieTimes& MovieReader::times() const { return state_->shown; }
int32_t MovieReader::width() const {
  return state_->rotation % 2 ? state_->codec->height : state_->codec->width;
}
int32_t MovieReader::height() const {
  return state_->rotation % 2 ? state_->codec->width : state_->codec->height;
}
int64_t MovieReader::seeks() const { return state_->seeks; }

MoviePicture MovieReader::read(int64_t index) {
  State& s = *state_;
  if (const AVFrame* kept = s.recalled(index)) return s.convert(*kept);
  s.seekFor(index);
  for (;;) {
    const int got = avcodec_receive_frame(s.codec, s.frame);
    if (got == 0) {
      const int64_t at = s.indexOf(*s.frame);
      s.last = at;
      s.remember(at, *s.frame);
      if (at == index) {
        MoviePicture picture = s.convert(*s.frame);
        av_frame_unref(s.frame);
        return picture;
      }
      av_frame_unref(s.frame);
      if (at > index) break;  // the frame itself did not decode
      continue;
    }
    if (got != AVERROR(EAGAIN)) break;
    s.feed(index);
  }
  s.last = -1;  // the decoder's position is unknown: seek afresh next time
  s.fail("frame " + std::to_string(index) + " of " + std::to_string(s.count) +
         " cannot be decoded; check that the file is complete");
}

}  // namespace tilvane_tool
