// FFmpeg's objects held by unique_ptr, each freed by its own function, for
// the movie writer and its sound track.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <memory>

namespace tilvane_tool {

// FFmpeg's free functions take the pointer's address, to null it.
template <typename T, void (*Free)(T**)>
struct Freed {
  void operator()(T* p) const { Free(&p); }
};
using CodecContext = std::unique_ptr<AVCodecContext, Freed<AVCodecContext, avcodec_free_context>>;
using Frame = std::unique_ptr<AVFrame, Freed<AVFrame, av_frame_free>>;
using Packet = std::unique_ptr<AVPacket, Freed<AVPacket, av_packet_free>>;

}  // namespace tilvane_tool
