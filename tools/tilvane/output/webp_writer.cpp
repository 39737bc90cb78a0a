#include "tools/tilvane/output/webp_writer.h"

#include <webp/encode.h>

#include <memory>
#include <new>

#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

// libwebp's writer callback: appends to the vector. A failed allocation must
// not unwind through the C encoder, so it is noted and the encoder told to stop.
struct Sink {
  std::vector<unsigned char>* bytes;
  bool outOfMemory = false;
};

int Append(const uint8_t* data, size_t size, const WebPPicture* picture) {
  auto* sink = static_cast<Sink*>(picture->custom_ptr);
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + size);
    return 1;
  } catch (const std::bad_alloc&) {
    sink->outOfMemory = true;
    return 0;
  }
}

const char* EncoderErrorName(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
      return "frame size out of range";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
      return "partition overflow";
    case VP8_ENC_ERROR_FILE_TOO_BIG:
      return "file larger than 4 GB";
    case VP8_ENC_ERROR_USER_ABORT:
      return "stopped";
    case VP8_ENC_ERROR_BAD_WRITE:
      return "bad write";
    default:
      return "internal error";
  }
}

struct PictureFree {
  void operator()(WebPPicture* picture) const { WebPPictureFree(picture); }
};

}  // namespace

void CheckWebpSize(const std::string& path, int32_t width, int32_t height) {
  if (width <= WEBP_MAX_DIMENSION && height <= WEBP_MAX_DIMENSION) return;
  throw UsageError("-o " + Quoted(path) + ": a WebP file holds at most " +
                   std::to_string(WEBP_MAX_DIMENSION) + " pixels a side, and the frame is " +
                   std::to_string(width) + "x" + std::to_string(height) +
                   "; give a smaller --size, or end -o with .png");
}

void EncodeWebp(const unsigned char* rgba, int32_t width, int32_t height,
                std::optional<int> quality, const std::string& path,
                std::vector<unsigned char>& out) {
  CheckWebpSize(path, width, height);
  const std::string what = "-o " + Quoted(path) + " cannot be encoded as WebP";
  WebPConfig config;
  if (!WebPConfigInit(&config)) {
    throw WriteError(what + " (libwebp's version does not match its headers); reinstall libwebp");
  }
  // Lossless keeps every value; exact keeps the colour under zero alpha,
  // which the encoder otherwise replaces with whatever compresses best.
  config.lossless = quality ? 0 : 1;
  config.exact = 1;
  if (quality) {
    config.quality = static_cast<float>(*quality);
    config.alpha_compression = 1;  // alpha lossless, as a matte must be
    config.alpha_quality = 100;
  }
  if (!WebPValidateConfig(&config)) throw WriteError(what + " (invalid settings)");

  WebPPicture picture;
  if (!WebPPictureInit(&picture)) {
    throw WriteError(what + " (libwebp's version does not match its headers); reinstall libwebp");
  }
  const std::unique_ptr<WebPPicture, PictureFree> owned(&picture);
  picture.use_argb = 1;  // the lossless encoder's own layout; lossy converts from it
  picture.width = width;
  picture.height = height;
  const uint64_t bytes = uint64_t{4} * static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (!WebPPictureImportRGBA(&picture, rgba, width * 4)) {
    throw UsageError("not enough memory for encoding " + Quoted(path) + " (" + ByteSize(bytes) +
                     "); " + kMemoryAdvice);
  }
  out.clear();
  Sink sink{&out};
  picture.writer = Append;
  picture.custom_ptr = &sink;
  if (!WebPEncode(&config, &picture)) {
    if (sink.outOfMemory || picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ||
        picture.error_code == VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY) {
      throw UsageError("not enough memory for encoding " + Quoted(path) + " (" + ByteSize(bytes) +
                       "); " + kMemoryAdvice);
    }
    throw WriteError(what + " (libwebp: " + EncoderErrorName(picture.error_code) +
                     "); check the frame size, or end -o with .png");
  }
}

}  // namespace tilvane_tool
