#include "tools/tilvane/output/audio_track.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/output/av_handles.h"

namespace tilvane_tool {
namespace {

// Interleaved PCM: a packet is whole samples, so a copy can be cut exactly.
constexpr AVCodecID kPcm[] = {
    AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S16BE, AV_CODEC_ID_PCM_S24LE, AV_CODEC_ID_PCM_S24BE,
    AV_CODEC_ID_PCM_S32LE, AV_CODEC_ID_PCM_S32BE, AV_CODEC_ID_PCM_F32LE, AV_CODEC_ID_PCM_F32BE,
    AV_CODEC_ID_PCM_F64LE, AV_CODEC_ID_PCM_F64BE, AV_CODEC_ID_PCM_U8,
};

bool IsPcm(AVCodecID id) {
  return std::find(std::begin(kPcm), std::end(kPcm), id) != std::end(kPcm);
}

// What each container keeps of a sound as it is (what players take in it),
// and what it re-encodes the rest to.
struct SoundHome {
  std::string_view muxer;
  const char* extension;
  std::initializer_list<AVCodecID> copied;
  bool pcm;  // PCM is copied too
  const char* encoder;
  const char* title;
};
const SoundHome kSoundHomes[] = {
    {"mov",
     ".mov",
     {AV_CODEC_ID_AAC, AV_CODEC_ID_MP3, AV_CODEC_ID_ALAC, AV_CODEC_ID_AC3},
     true,
     "aac",
     "AAC"},
    {"mp4",
     ".mp4",
     {AV_CODEC_ID_AAC, AV_CODEC_ID_MP3, AV_CODEC_ID_ALAC, AV_CODEC_ID_AC3, AV_CODEC_ID_EAC3},
     false,
     "aac",
     "AAC"},
    {"webm", ".webm", {AV_CODEC_ID_OPUS, AV_CODEC_ID_VORBIS}, false, "libopus", "Opus"},
    {"matroska",
     ".mkv",
     {AV_CODEC_ID_AAC, AV_CODEC_ID_MP3, AV_CODEC_ID_OPUS, AV_CODEC_ID_VORBIS, AV_CODEC_ID_FLAC,
      AV_CODEC_ID_ALAC, AV_CODEC_ID_AC3, AV_CODEC_ID_EAC3},
     true,
     "flac",
     "FLAC"},
};

std::string CodecName(AVCodecID id) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  return d ? d->name : "unknown";
}

using Input = std::unique_ptr<AVFormatContext, Freed<AVFormatContext, avformat_close_input>>;
using Resampler = std::unique_ptr<SwrContext, Freed<SwrContext, swr_free>>;

struct FifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

Input OpenInput(const std::string& movie) {
  AVFormatContext* f = nullptr;
  if (avformat_open_input(&f, movie.c_str(), nullptr, nullptr) < 0) return nullptr;
  Input input(f);
  if (avformat_find_stream_info(f, nullptr) < 0) return nullptr;
  return input;
}

// The first audio stream this build can decode, or -1.
int FirstAudio(const AVFormatContext& f) {
  for (unsigned i = 0; i < f.nb_streams; ++i) {
    const AVCodecParameters& p = *f.streams[i]->codecpar;
    if (p.codec_type == AVMEDIA_TYPE_AUDIO && p.sample_rate > 0 && p.ch_layout.nb_channels > 0 &&
        avcodec_find_decoder(p.codec_id)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Exact seconds in units of `base`, rounded to the nearest.
int64_t InUnits(Seconds t, AVRational base) {
  return av_rescale(t.num, base.den, t.den * base.num);
}

}  // namespace

bool HasSound(const std::string& movie) {
  const Input input = OpenInput(movie);
  return input && FirstAudio(*input) >= 0;
}

bool TakesSound(const std::string& output) {
  const MovieContainer* container = ContainerOf(output);
  return container && std::any_of(std::begin(kSoundHomes), std::end(kSoundHomes),
                                  [&](const SoundHome& h) { return h.muxer == container->muxer; });
}

struct AudioTrack::State {
  AudioSource source;
  AVFormatContext* output;
  Failed failed;
  Input input;
  int index = -1;
  AVStream* in = nullptr;
  AVStream* out = nullptr;
  const SoundHome* home = nullptr;
  bool copying = false;
  // Re-encoded though the container takes the codec: a copy could not start
  // at the range's start.
  bool reEncodedToStart = false;
  bool pcm = false;  // copied PCM, timed in samples from the range's start
  Packet packet{av_packet_alloc()};
  bool inputEnded = false;

  // The range in the layer's own time: its first picture is time 0.
  int64_t originSamples = 0;               // the first picture, in the track's samples
  int rate = 0;                            // the track's samples per second
  int64_t startSample = 0, endSample = 0;  // the range in the track's samples
  int64_t startUnits = 0, endUnits = 0;    // and in the stream's units

  // Copying: packets in the stream's units, waiting to be written.
  std::deque<Packet> ready;
  // The packets in the last stretch before the range: a decoder's overlap
  // needs the one before, MP3's bit reservoir up to 511 bytes further back.
  std::deque<Packet> before;
  bool started = false;              // a packet of the range was kept
  int64_t pcmNext = AV_NOPTS_VALUE;  // PCM: the next packet's first sample
  // Opus where times start at zero (Matroska): the packets from shortly
  // before the range are placed from zero, and the stream's pre-skip drops
  // the samples before the range, as the encoder's own delay is dropped.
  bool preSkipped = false;
  int64_t opusNext = AV_NOPTS_VALUE;  // the next packet's first sample
  int64_t firstKept = 0;              // the first kept packet's first sample
  int64_t preSkip = 0;

  // Re-encoding: decoded, cut to the range, converted, queued, encoded.
  CodecContext decoder;
  CodecContext encoder;
  Resampler resampler;
  std::unique_ptr<AVAudioFifo, FifoFree> fifo;
  Frame frame{av_frame_alloc()};
  int64_t nextSample = AV_NOPTS_VALUE;  // the next input sample the range wants
  int64_t outTotal = 0;                 // the range in encoded samples
  int64_t queued = 0;                   // encoded samples put in the queue
  int64_t sent = 0;                     // samples handed to the encoder
  int frameSize = 1024;
  // Where times start at zero, the encoder's delay (Opus's pre-skip) is in
  // the header, and its packets are placed from zero, not before it.
  int64_t delayShift = 0;

  State(const AudioSource& s, AVFormatContext* o, Failed f)
      : source(s), output(o), failed(std::move(f)) {}

  [[noreturn]] void unreadable(const std::string& why) const {
    throw UsageError("the sound of " + Quoted(source.movie) + " cannot be " + why +
                     "; give --no-audio to leave it out");
  }

  // Opens the source at its start, reading its sound alone.
  void openSource() {
    input = OpenInput(source.movie);
    if (!input) unreadable("read");
    index = FirstAudio(*input);
    if (index < 0) unreadable("decoded by this build");
    for (unsigned i = 0; i < input->nb_streams; ++i) {
      if (static_cast<int>(i) != index) input->streams[i]->discard = AVDISCARD_ALL;
    }
    in = input->streams[index];
    inputEnded = false;
  }

  void open() {
    if (!packet || !frame) throw std::bad_alloc();
    openSource();
    rate = in->codecpar->sample_rate;
    // The layer's time 0 is its first picture, as the movie reader counts.
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0 && input->streams[video]->start_time != AV_NOPTS_VALUE) {
      originSamples = av_rescale_q(input->streams[video]->start_time,
                                   input->streams[video]->time_base, AVRational{1, rate});
    }
    startSample = originSamples + InUnits(source.start, AVRational{1, rate});
    endSample = startSample + InUnits(source.duration, AVRational{1, rate});
    startUnits = av_rescale_q(originSamples, AVRational{1, rate}, in->time_base) +
                 InUnits(source.start, in->time_base);
    endUnits = startUnits + InUnits(source.duration, in->time_base);
    for (const SoundHome& h : kSoundHomes) {
      if (h.muxer == output->oformat->name) home = &h;
    }
    if (!home) throw std::logic_error("a sound for a container that keeps none");
    const AVCodecID id = in->codecpar->codec_id;
    copying = (IsPcm(id) ? home->pcm
                         : std::find(home->copied.begin(), home->copied.end(), id) !=
                               home->copied.end()) &&
              avformat_query_codec(output->oformat, id, FF_COMPLIANCE_NORMAL) == 1;
    if (copying && !IsPcm(id) && id != AV_CODEC_ID_OPUS &&
        !(output->oformat->flags & AVFMT_TS_NEGATIVE) && !copyStartsAtRange()) {
      copying = false;
      reEncodedToStart = true;
    }
    out = avformat_new_stream(output, nullptr);
    if (!out) throw std::bad_alloc();
    pcm = copying && IsPcm(id);
    if (copying) {
      openCopy();
    } else {
      openEncoder();
    }
  }

  // Where times start at zero (Matroska), a copy keeps no packet before the
  // range, so one from mid-clip would start at the next whole packet, and
  // AAC or MP3 would decode it silent without the packets before; nor does
  // it keep a first packet's samples to skip (AAC's or MP3's priming). PCM
  // is cut exactly and Opus's pre-skip does both, but any other copy is
  // exact only when the sound's first packet starts at or after the range,
  // skipping none. Reads that packet and opens the source again.
  bool copyStartsAtRange() {
    bool exact = true;
    while (read(packet.get())) {
      const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (pts != AV_NOPTS_VALUE) {
        size_t size = 0;
        const uint8_t* skip =
            av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
        // The first four bytes count the samples skipped at the start.
        const bool skips =
            skip && size >= 4 && std::any_of(skip, skip + 4, [](uint8_t b) { return b != 0; });
        exact = pts >= startUnits && !skips;
        av_packet_unref(packet.get());
        break;
      }
      av_packet_unref(packet.get());
    }
    openSource();
    return exact;
  }

  void openCopy() {
    if (avcodec_parameters_copy(out->codecpar, in->codecpar) < 0) throw std::bad_alloc();
    out->codecpar->codec_tag = 0;  // the container's own tag for the codec
    out->time_base = in->time_base;
    if (in->codecpar->codec_id == AV_CODEC_ID_OPUS &&
        !(output->oformat->flags & AVFMT_TS_NEGATIVE)) {
      keepFromPreSkip();
    }
  }

  // An Opus packet's first sample and its count, in the track's samples.
  // The first packet starts at minus the pre-skip, which times in whole
  // milliseconds hold only to the nearest; later ones follow on unless their
  // time says otherwise by more than a tick.
  std::pair<int64_t, int64_t> opusSamples(const AVPacket& p) {
    const AVRational samples{1, rate};
    const int64_t tick = std::max<int64_t>(1, av_rescale_q(1, in->time_base, samples));
    const int64_t count =
        p.duration > 0 ? av_rescale_q(p.duration, in->time_base, samples) : rate / 50;
    const int64_t stamped =
        p.pts == AV_NOPTS_VALUE ? opusNext : av_rescale_q(p.pts, in->time_base, samples);
    int64_t at = opusNext;
    if (opusNext == AV_NOPTS_VALUE) {
      const int64_t skip = in->codecpar->initial_padding;
      at = std::llabs(stamped + skip) <= tick ? -skip : stamped;
    } else if (stamped != AV_NOPTS_VALUE && std::llabs(stamped - opusNext) > tick) {
      at = stamped;
    }
    opusNext = at + count;
    return {at, count};
  }

  // Reads up to the packet that holds the range's start, keeping those
  // within the decoder's 80 ms to settle (Matroska's seek pre-roll for
  // Opus) before it, and sets the pre-skip to end at the range's start.
  // Before the header is written: the pre-skip is in it.
  void keepFromPreSkip() {
    preSkipped = true;
    const int64_t preRoll = int64_t{rate} * 80 / 1000;
    bool first = true;
    while (read(packet.get())) {
      if (packet->pts == AV_NOPTS_VALUE) packet->pts = packet->dts;
      if (packet->pts == AV_NOPTS_VALUE) {
        av_packet_unref(packet.get());
        continue;
      }
      const auto [at, count] = opusSamples(*packet);
      if (at >= endSample) {
        inputEnded = true;
        av_packet_unref(packet.get());
        break;
      }
      if (at + count <= startSample - preRoll) {
        av_packet_unref(packet.get());
        continue;
      }
      if (first) firstKept = at;
      first = false;
      placeOpus(at, count);
      if (at + count > startSample) break;
    }
    // The header holds 16 bits of it; a sound that ends before the range
    // keeps nothing to skip.
    preSkip = first ? 0 : std::clamp<int64_t>(startSample - firstKept, 0, 65535);
    out->codecpar->initial_padding = static_cast<int>(preSkip);
    uint8_t* head = out->codecpar->extradata;
    if (out->codecpar->extradata_size >= 12 && std::memcmp(head, "OpusHead", 8) == 0) {
      head[10] = static_cast<uint8_t>(preSkip & 0xff);
      head[11] = static_cast<uint8_t>(preSkip >> 8);
    }
  }

  // Queues the packet in `packet`, timed from the first kept one.
  void placeOpus(int64_t at, int64_t count) {
    AVPacket& p = *packet;
    p.pts = p.dts = at - firstKept;
    p.duration = count;
    ready.emplace_back(av_packet_alloc());
    if (!ready.back()) throw std::bad_alloc();
    av_packet_move_ref(ready.back().get(), &p);
  }

  void openEncoder() {
    const AVCodec* found = avcodec_find_decoder(in->codecpar->codec_id);
    decoder.reset(avcodec_alloc_context3(found));
    if (!decoder) throw std::bad_alloc();
    avcodec_parameters_to_context(decoder.get(), in->codecpar);
    decoder->pkt_timebase = in->time_base;
    if (avcodec_open2(decoder.get(), found, nullptr) < 0) unreadable("decoded by this build");

    const AVCodec* codec = avcodec_find_encoder_by_name(home->encoder);
    if (!codec) {
      throw UsageError("the sound of " + Quoted(source.movie) + " needs re-encoding to " +
                       home->title + ", and this FFmpeg has no " + home->encoder +
                       " encoder; install one with it, or give --no-audio to leave the sound out");
    }
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) throw std::bad_alloc();
    AVCodecContext& e = *encoder;
    e.sample_rate = EncodedRate(*codec, rate);
    e.sample_fmt = EncodedFormat(*codec, decoder->sample_fmt);
    ChannelsFor(*codec, in->codecpar->ch_layout, &e.ch_layout);
    if (e.sample_fmt == AV_SAMPLE_FMT_S32) e.bits_per_raw_sample = 24;  // FLAC's deepest
    if (std::string_view(home->encoder) == "aac") e.bit_rate = 64000 * e.ch_layout.nb_channels;
    e.time_base = AVRational{1, e.sample_rate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(&e, codec, nullptr);
    if (r < 0) failed(std::string("opening the ") + home->encoder + " encoder", r);
    if (e.frame_size > 0) frameSize = e.frame_size;
    r = avcodec_parameters_from_context(out->codecpar, &e);
    if (r < 0) failed("setting up the sound's stream", r);
    out->time_base = e.time_base;
    if (!(output->oformat->flags & AVFMT_TS_NEGATIVE) && codec->id == AV_CODEC_ID_OPUS) {
      delayShift = e.initial_padding;
    }
    fifo.reset(av_audio_fifo_alloc(e.sample_fmt, e.ch_layout.nb_channels, frameSize));
    if (!fifo) throw std::bad_alloc();
    nextSample = startSample;
    outTotal = InUnits(source.duration, AVRational{1, e.sample_rate});
  }

  // The track's rate where the encoder takes it, else the nearest above it
  // (Opus takes 48 kHz and a few below), else the highest it takes.
  static int EncodedRate(const AVCodec& codec, int wanted) {
    if (!codec.supported_samplerates) return wanted;
    int above = 0, highest = 0;
    for (const int* r = codec.supported_samplerates; *r; ++r) {
      if (*r == wanted) return wanted;
      if (*r > wanted && (above == 0 || *r < above)) above = *r;
      highest = std::max(highest, *r);
    }
    return above ? above : highest;
  }

  // The decoded format where the encoder takes it; else the encoder's first,
  // or for FLAC 24 bits where the source has more than 16.
  static AVSampleFormat EncodedFormat(const AVCodec& codec, AVSampleFormat decoded) {
    if (!codec.sample_fmts) return decoded;
    for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
      if (*f == decoded) return decoded;
    }
    const bool deep = av_get_bytes_per_sample(decoded) > 2;
    for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
      if (deep && *f == AV_SAMPLE_FMT_S32) return *f;
    }
    return codec.sample_fmts[0];
  }

  // The track's channels where the encoder takes their layout; else the
  // usual layout of as many channels, or stereo.
  static void ChannelsFor(const AVCodec& codec, const AVChannelLayout& given,
                          AVChannelLayout* chosen) {
    AVChannelLayout wanted{};
    if (given.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&wanted, given.nb_channels);
    } else {
      av_channel_layout_copy(&wanted, &given);
    }
    const auto takes = [&](const AVChannelLayout& l) {
      if (!codec.ch_layouts) return true;
      for (const AVChannelLayout* c = codec.ch_layouts; c->nb_channels; ++c) {
        if (!av_channel_layout_compare(c, &l)) return true;
      }
      return false;
    };
    if (!takes(wanted)) {
      av_channel_layout_uninit(&wanted);
      av_channel_layout_default(&wanted, given.nb_channels);
      if (!takes(wanted)) {
        av_channel_layout_uninit(&wanted);
        wanted = AV_CHANNEL_LAYOUT_STEREO;
      }
    }
    av_channel_layout_copy(chosen, &wanted);
    av_channel_layout_uninit(&wanted);
  }

  std::string describe() const {
    const std::string what =
        CodecName(in->codecpar->codec_id) + ", " + std::to_string(rate) + " Hz";
    if (copying) return "the sound of " + Quoted(source.movie) + " copied (" + what + ")";
    return "the sound of " + Quoted(source.movie) + " (" + what + ") re-encoded to " + home->title +
           " (" + home->encoder + ", " + std::to_string(encoder->sample_rate) + " Hz)" +
           (reEncodedToStart ? std::string(" to start exactly at the first frame, which a copy "
                                           "cannot in ") +
                                   home->extension
                             : "");
  }

  // The track's next packet, or false at its end (or where it stops being
  // readable: the picture was read whole, and the sound ends there).
  bool read(AVPacket* p) {
    if (inputEnded) return false;
    for (;;) {
      if (av_read_frame(input.get(), p) < 0) {
        inputEnded = true;
        return false;
      }
      if (p->stream_index == index) return true;
      av_packet_unref(p);
    }
  }

  void write(AVPacket* p, AVRational base) {
    p->stream_index = out->index;
    p->pos = -1;
    av_packet_rescale_ts(p, base, out->time_base);
    const int r = av_interleaved_write_frame(output, p);
    if (r < 0) failed("writing the sound", r);
  }

  // Copying: reads until a packet of the range is ready, or the range ends.
  bool fetch() {
    while (ready.empty()) {
      if (!read(packet.get())) return false;
      AVPacket& p = *packet;
      if (p.pts == AV_NOPTS_VALUE) p.pts = p.dts;
      if (p.pts == AV_NOPTS_VALUE) {
        av_packet_unref(&p);
        continue;
      }
      if (pcm) {
        cutPcm(p);
        continue;
      }
      if (preSkipped) {
        const auto [at, count] = opusSamples(p);
        if (at >= endSample) {
          inputEnded = true;
          av_packet_unref(&p);
          return false;
        }
        placeOpus(at, count);
        continue;
      }
      if (p.pts >= endUnits) {
        inputEnded = true;
        av_packet_unref(&p);
        return false;
      }
      if (!started && p.pts + std::max<int64_t>(p.duration, 1) <= startUnits) {
        // Kept aside, the last 200 ms of them at least the last one.
        const int64_t settle = InUnits({1, 5}, in->time_base);
        while (!before.empty() &&
               before.front()->pts + before.front()->duration <= p.pts - settle) {
          before.pop_front();
        }
        before.emplace_back(av_packet_alloc());
        if (!before.back()) throw std::bad_alloc();
        av_packet_move_ref(before.back().get(), &p);
        continue;
      }
      // Times before the range are kept (in MP4 and MOV, by an edit list
      // that players obey; elsewhere there are none), so the packets before
      // it go too.
      if (!started) {
        for (Packet& b : before) ready.push_back(std::move(b));
      }
      before.clear();
      started = true;
      ready.emplace_back(av_packet_alloc());
      if (!ready.back()) throw std::bad_alloc();
      av_packet_move_ref(ready.back().get(), &p);
    }
    return true;
  }

  // PCM is cut to the exact samples of the range; its position is counted
  // from the first packet, since some containers keep times in milliseconds.
  void cutPcm(AVPacket& p) {
    const int align = in->codecpar->block_align > 0
                          ? in->codecpar->block_align
                          : in->codecpar->ch_layout.nb_channels *
                                av_get_bits_per_sample(in->codecpar->codec_id) / 8;
    const int64_t count = align > 0 ? p.size / align : 0;
    if (pcmNext == AV_NOPTS_VALUE) {
      pcmNext = av_rescale_q(p.pts, in->time_base, AVRational{1, rate});
    }
    const int64_t first = pcmNext;
    pcmNext += count;
    const int64_t from = std::max(first, startSample);
    const int64_t to = std::min(first + count, endSample);
    if (first >= endSample) inputEnded = true;
    if (to <= from) {
      av_packet_unref(&p);
      return;
    }
    p.data += (from - first) * align;
    p.size = static_cast<int>((to - from) * align);
    p.pts = p.dts = from - startSample;
    p.duration = to - from;
    ready.emplace_back(av_packet_alloc());
    if (!ready.back()) throw std::bad_alloc();
    av_packet_move_ref(ready.back().get(), &p);
  }

  void copyUntil(int64_t untilUnits, bool all) {
    while (fetch()) {
      AVPacket* p = ready.front().get();
      const int64_t at = pcm ? av_rescale_q(p->pts, AVRational{1, rate}, in->time_base)
                         : preSkipped
                             ? av_rescale_q(p->pts - preSkip, AVRational{1, rate}, in->time_base)
                             : p->pts - startUnits;
      if (!all && at >= untilUnits) return;
      if (pcm || preSkipped) {
        write(p, AVRational{1, rate});
      } else {
        p->pts -= startUnits;
        if (p->dts != AV_NOPTS_VALUE) p->dts -= startUnits;
        write(p, in->time_base);
      }
      ready.pop_front();
    }
  }

  // Re-encoding: decodes one more frame into the queue; false at the end.
  bool decodeMore() {
    for (;;) {
      const int r = avcodec_receive_frame(decoder.get(), frame.get());
      if (r == 0) {
        queue(*frame);
        av_frame_unref(frame.get());
        return true;
      }
      if (r != AVERROR(EAGAIN)) return false;  // drained, or undecodable from here on
      if (read(packet.get())) {
        avcodec_send_packet(decoder.get(), packet.get());  // a damaged packet is skipped
        av_packet_unref(packet.get());
      } else if (avcodec_send_packet(decoder.get(), nullptr) < 0) {
        return false;
      }
    }
  }

  void openResampler(const AVFrame& f) {
    SwrContext* s = nullptr;
    AVChannelLayout from{};  // this FFmpeg takes layouts it does not change as non-const
    int r = av_channel_layout_copy(&from, &f.ch_layout);
    if (r >= 0) {
      r = swr_alloc_set_opts2(&s, &encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate,
                              &from, static_cast<AVSampleFormat>(f.format), f.sample_rate, 0,
                              nullptr);
    }
    av_channel_layout_uninit(&from);
    resampler.reset(s);
    if (r >= 0) r = swr_init(s);
    if (r < 0) unreadable("converted for " + std::string(home->title));
  }

  // Converts `count` samples (nullptr: what the resampler still holds) into
  // the queue, which takes no more than the range.
  void convert(const uint8_t** data, int count) {
    const int room = swr_get_out_samples(resampler.get(), count);
    if (room <= 0) return;
    uint8_t** converted = nullptr;
    if (av_samples_alloc_array_and_samples(&converted, nullptr, encoder->ch_layout.nb_channels,
                                           room, encoder->sample_fmt, 0) < 0) {
      throw std::bad_alloc();
    }
    const int made = swr_convert(resampler.get(), converted, room, data, count);
    const int64_t kept = std::min<int64_t>(std::max(made, 0), outTotal - queued);
    if (kept > 0) {
      av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(converted), static_cast<int>(kept));
      queued += kept;
    }
    av_freep(&converted[0]);
    av_freep(&converted);
  }

  // A decoded frame's samples that fall in the range, with silence for a
  // gap before them. Times come from the frame where they are not within
  // a tick of the count so far, which coarse container times are.
  void queue(const AVFrame& f) {
    if (!resampler) openResampler(f);
    const int64_t tick = std::max<int64_t>(1, av_rescale_q(1, in->time_base, AVRational{1, rate}));
    int64_t at = nextSample;
    if (f.pts != AV_NOPTS_VALUE) {
      const int64_t stamped = av_rescale_q(f.pts, in->time_base, AVRational{1, rate});
      if (stamped > nextSample + tick || stamped < nextSample - tick) at = stamped;
    }
    if (at > nextSample && nextSample < endSample) {
      silence(std::min(at, endSample) - nextSample, f);
      nextSample = std::min(at, endSample);
    }
    const int64_t from = std::max(at, nextSample);
    const int64_t to = std::min(at + f.nb_samples, endSample);
    if (to > from) {
      const auto format = static_cast<AVSampleFormat>(f.format);
      const int planes = av_sample_fmt_is_planar(format) ? f.ch_layout.nb_channels : 1;
      const int64_t step = av_get_bytes_per_sample(format) *
                           (av_sample_fmt_is_planar(format) ? 1 : f.ch_layout.nb_channels);
      std::vector<const uint8_t*> data(static_cast<size_t>(planes));
      for (int i = 0; i < planes; ++i) data[i] = f.extended_data[i] + (from - at) * step;
      convert(data.data(), static_cast<int>(to - from));
      nextSample = to;
    } else if (at + f.nb_samples > nextSample) {
      nextSample = std::min(at + f.nb_samples, endSample);
    }
  }

  // Silence of `count` samples in the frame's own format, through the
  // resampler like the sound around it.
  void silence(int64_t count, const AVFrame& like) {
    const auto format = static_cast<AVSampleFormat>(like.format);
    while (count > 0) {
      const int n = static_cast<int>(std::min<int64_t>(count, 4096));
      uint8_t** quiet = nullptr;
      if (av_samples_alloc_array_and_samples(&quiet, nullptr, like.ch_layout.nb_channels, n, format,
                                             0) < 0) {
        throw std::bad_alloc();
      }
      av_samples_set_silence(quiet, 0, n, like.ch_layout.nb_channels, format);
      convert(const_cast<const uint8_t**>(quiet), n);
      av_freep(&quiet[0]);
      av_freep(&quiet);
      count -= n;
    }
  }

  // Encodes whole frames from the queue; at the end, what is left.
  void encodeQueued(bool last) {
    while (av_audio_fifo_size(fifo.get()) >= frameSize ||
           (last && av_audio_fifo_size(fifo.get()) > 0)) {
      const int n = std::min(frameSize, av_audio_fifo_size(fifo.get()));
      Frame f(av_frame_alloc());
      if (!f) throw std::bad_alloc();
      const bool padded =
          n < frameSize && !(encoder->codec->capabilities &
                             (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
      f->nb_samples = padded ? frameSize : n;
      f->format = encoder->sample_fmt;
      f->sample_rate = encoder->sample_rate;
      if (av_channel_layout_copy(&f->ch_layout, &encoder->ch_layout) < 0 ||
          av_frame_get_buffer(f.get(), 0) < 0) {
        throw std::bad_alloc();
      }
      if (padded) {
        av_samples_set_silence(f->extended_data, 0, frameSize, encoder->ch_layout.nb_channels,
                               encoder->sample_fmt);
      }
      av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->extended_data), n);
      f->pts = sent;
      sent += n;
      send(f.get());
    }
  }

  void send(const AVFrame* f) {
    int r = avcodec_send_frame(encoder.get(), f);
    if (r < 0) failed(std::string("encoding the sound with ") + home->encoder, r);
    for (;;) {
      r = avcodec_receive_packet(encoder.get(), packet.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) failed(std::string("encoding the sound with ") + home->encoder, r);
      packet->pts += delayShift;
      if (packet->dts != AV_NOPTS_VALUE) packet->dts += delayShift;
      write(packet.get(), encoder->time_base);
    }
  }

  void encodeUntil(int64_t until, bool all) {
    while (queued < outTotal && (all || queued < until + frameSize) && decodeMore()) {
    }
    if (all) {
      if (resampler) convert(nullptr, 0);
      // A sound that ends before the range does is made up with silence.
      if (queued < outTotal) {
        const int missing = static_cast<int>(outTotal - queued);
        const int channels = encoder->ch_layout.nb_channels;
        uint8_t** quiet = nullptr;
        if (av_samples_alloc_array_and_samples(&quiet, nullptr, channels, missing,
                                               encoder->sample_fmt, 0) < 0) {
          throw std::bad_alloc();
        }
        av_samples_set_silence(quiet, 0, missing, channels, encoder->sample_fmt);
        av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(quiet), missing);
        queued = outTotal;
        av_freep(&quiet[0]);
        av_freep(&quiet);
      }
    }
    encodeQueued(all);
    if (all) send(nullptr);
  }

  void writeUntil(Seconds until, bool all) {
    if (copying) {
      copyUntil(InUnits(until, in->time_base), all);
    } else {
      encodeUntil(InUnits(until, encoder->time_base), all);
    }
  }
};

AudioTrack::AudioTrack(const AudioSource& source, AVFormatContext* output, Failed failed)
    : state_(std::make_unique<State>(source, output, std::move(failed))) {
  state_->open();
}

AudioTrack::~AudioTrack() = default;

std::string AudioTrack::describe() const { return state_->describe(); }

void AudioTrack::writeUntil(Seconds until) { state_->writeUntil(until, false); }

void AudioTrack::finish() { state_->writeUntil({}, true); }

}  // namespace tilvane_tool
