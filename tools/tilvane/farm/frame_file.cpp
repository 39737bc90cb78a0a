#include "tools/tilvane/farm/frame_file.h"

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

constexpr char kMagic[] = "tilvane frame 1\n";

std::string Header(int32_t width, int32_t height, int depth) {
  return kMagic + std::to_string(width) + " " + std::to_string(height) + " " +
         std::to_string(depth) + "\n";
}

size_t RowBytes(int32_t width, int depth) {
  return static_cast<size_t>(width) * (depth == 16 ? sizeof(PF_Pixel16) : sizeof(PF_Pixel));
}

const unsigned char* Row(const standin::World& w, int32_t y) {
  return w.depth() == 16 ? reinterpret_cast<const unsigned char*>(&w.at16(0, y))
                         : reinterpret_cast<const unsigned char*>(&w.at8(0, y));
}

}  // namespace

void WriteFrameFile(const std::string& path, const standin::World& frame) {
  const size_t rowBytes = RowBytes(frame.width(), frame.depth());
  std::vector<unsigned char> raw(rowBytes * static_cast<size_t>(frame.height()));
  for (int32_t y = 0; y < frame.height(); ++y) {
    if (rowBytes > 0)
      std::memcpy(raw.data() + rowBytes * static_cast<size_t>(y), Row(frame, y), rowBytes);
  }
  const std::string header = Header(frame.width(), frame.height(), frame.depth());
  uLongf packed = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> bytes(header.begin(), header.end());
  bytes.resize(header.size() + packed);
  // Level 1: a mosaic's flat grounds deflate well at the fastest level.
  if (compress2(bytes.data() + header.size(), &packed, raw.data(), static_cast<uLong>(raw.size()),
                1) != Z_OK) {
    throw WriteError(Quoted(path) + " cannot be written: not enough memory to deflate the frame");
  }
  bytes.resize(header.size() + packed);
  WriteFileAtomically(path, bytes);
}

standin::World ReadFrameFile(const std::string& path, int32_t width, int32_t height, int depth) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  const std::string header = Header(width, height, depth);
  const auto refuse = [&](const std::string& why) {
    return UsageError(Quoted(path) + " " + why +
                      "; render its chunk again ('tilvane farm resume' on the job folder)");
  };
  if (!in.eof() && !in) throw refuse("cannot be read");
  if (bytes.size() < header.size() ||
      std::memcmp(bytes.data(), header.data(), header.size()) != 0) {
    throw refuse("is not a frame of this job (" + std::to_string(width) + "x" +
                 std::to_string(height) + ", " + std::to_string(depth) + " bits)");
  }
  standin::World frame(width, height, depth);
  const size_t rowBytes = RowBytes(width, depth);
  std::vector<unsigned char> raw(rowBytes * static_cast<size_t>(height));
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &size, bytes.data() + header.size(),
                 static_cast<uLong>(bytes.size() - header.size())) != Z_OK ||
      size != raw.size()) {
    throw refuse("is damaged");
  }
  for (int32_t y = 0; y < height; ++y) {
    unsigned char* row = frame.depth() == 16 ? reinterpret_cast<unsigned char*>(&frame.at16(0, y))
                                             : reinterpret_cast<unsigned char*>(&frame.at8(0, y));
    if (rowBytes > 0) std::memcpy(row, raw.data() + rowBytes * static_cast<size_t>(y), rowBytes);
  }
  return frame;
}

}  // namespace tilvane_tool
