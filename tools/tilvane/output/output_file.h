// Output files: checked before anything renders, and written so that a file
// under its final name is always complete and no input is ever touched.
#pragma once

#include <OpenImageIO/imageio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/tilvane/core/formats.h"

namespace tilvane_tool {

// Throws UsageError, naming the extension, unless path ends with one the tool
// writes, as an image or a movie.
void CheckOutputFormat(const std::string& path);

// Throws UsageError unless path names an image format the tool writes (see
// kImageExtensions) in a writable directory, or one that MakeOutputDirectory
// can make in the nearest that exists.
void CheckOutputPath(const std::string& path);

// Makes the directory path goes in, and any missing above it, as mkdir -p
// does. Throws WriteError.
void MakeOutputDirectory(const std::string& path);

// A file a layer reads, with the option that named it.
struct InputFile {
  std::string option;  // "--icon"
  std::string path;
};

// Checks every output before anything renders, links followed: its format and
// directory (CheckOutputPath), that an existing output is a regular file the
// user may write, that it is none of the inputs (same device and inode), and,
// with noOverwrite, that it does not exist. Throws UsageError naming the first
// output refused.
void CheckOutputs(const std::vector<std::string>& outputs, const std::vector<InputFile>& inputs,
                  bool noOverwrite);

// zlib's level for PNG outputs, 0 (none) to 9 (smallest). The default trades
// about 8% larger files for a third less encoding time than zlib's own 6.
inline constexpr int kDefaultPngCompression = 3;

// The row filter libpng applies before zlib. A frame of icons on a flat or
// transparent ground is smaller and about 2.5 times faster to encode unfiltered
// than with libpng's adaptive choice (which tries all five on every row); a
// photographic icon in large cells compresses better filtered, `up` being
// the fastest of those.
enum class PngFilter { None, Sub, Up, Average, Paeth, Adaptive };
inline constexpr PngFilter kDefaultPngFilter = PngFilter::None;
struct PngFilterEntry {
  PngFilter filter;
  const char* name;  // as the option takes it
  int flags;         // libpng's PNG_FILTER_* bits, as OpenImageIO's "png:filter" takes them
};
inline constexpr PngFilterEntry kPngFilters[] = {
    {PngFilter::None, "none", 0x08},   {PngFilter::Sub, "sub", 0x10},
    {PngFilter::Up, "up", 0x20},       {PngFilter::Average, "average", 0x40},
    {PngFilter::Paeth, "paeth", 0x80}, {PngFilter::Adaptive, "adaptive", 0xf8},
};
const char* PngFilterName(PngFilter filter);
int PngFilterFlags(PngFilter filter);
// The filter a name gives, in any case.
std::optional<PngFilter> PngFilterNamed(const std::string& name);

// How a PNG output is encoded: zlib level and row filter, from the command line.
struct PngOptions {
  int compression = kDefaultPngCompression;
  PngFilter filter = kDefaultPngFilter;
};

// Encodes the image in memory with OpenImageIO's writer for path's extension,
// then writes it as WriteFileAtomically does. Throws WriteError.
void EncodeAndWrite(const std::string& path, const OIIO::ImageSpec& spec, OIIO::TypeDesc type,
                    const void* data, const PngOptions& png = {});

// Writes bytes to a hidden temporary file beside path's target (a symbolic
// link is followed and stays a link), every write, the flush to disk and the
// close checked; gives it an existing target's permission bits, renames it over
// the target and flushes the directory. Throws WriteError naming path and the
// system's reason; the temporary file is removed and an existing target is
// left as it was.
void WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes);

// A file written piece by piece by another library (a movie): it goes to a
// hidden temporary file beside path's target, removed on a signal or when
// this object goes without commit(); commit() makes it the target as
// WriteFileAtomically does. Throws WriteError naming path.
class StreamedOutput {
 public:
  explicit StreamedOutput(const std::string& path);
  ~StreamedOutput();
  StreamedOutput(const StreamedOutput&) = delete;
  StreamedOutput& operator=(const StreamedOutput&) = delete;

  // Where the other library writes (it may reopen the file by this name).
  const std::string& temporaryPath() const;
  // Throws WriteError for the system's error number err, naming path.
  [[noreturn]] void failed(int err) const;
  // Flushes the file to disk, gives it an existing target's permissions and
  // renames it over the target.
  void commit();

 private:
  class Temporary;
  std::string path_;
  std::string target_;
  std::unique_ptr<Temporary> temp_;
};

// Makes SIGINT, SIGTERM and SIGHUP delete the temporary files being written,
// and a file size limit or a closed pipe fail the write (reported) instead of
// ending the tool. Called before any thread starts, as it sets the process's
// signal dispositions.
void RemoveTemporaryFilesOnSignals();

}  // namespace tilvane_tool
