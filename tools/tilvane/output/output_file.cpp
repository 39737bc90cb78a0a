#include "tools/tilvane/output/output_file.h"

#include <OpenImageIO/filesystem.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"

namespace tilvane_tool {
namespace fs = std::filesystem;

namespace {

// Follows symbolic links to the file they finally name, which need not exist;
// a relative link is taken from the link's own directory.
std::string WriteTarget(const std::string& path) {
  fs::path p(path);
  std::error_code ec;
  for (int hops = 0; fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
    if (hops == 40) {
      throw UsageError("-o " + Quoted(path) +
                       ": too many levels of symbolic links; point it at a file");
    }
    const fs::path next = fs::read_symlink(p, ec);
    if (ec) break;  // gone meanwhile: the name itself is written
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return p.string();
}

// "-o 'link.png' (linked to 'real/out.png')" when they differ.
std::string OutputName(const std::string& path, const std::string& target) {
  return "-o " + Quoted(path) + (target == path ? "" : " (linked to " + Quoted(target) + ")");
}

const char* AdviceFor(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
      return "free some space or write elsewhere";
    case EFBIG:
      return "raise the file size limit (ulimit -f) or write a smaller image";
    case EACCES:
    case EPERM:
    case EROFS:
      return "check the permissions, or write elsewhere";
    default:
      return "check the disk and the directory";
  }
}

[[noreturn]] void WriteFailed(const std::string& path, const std::string& target, int err) {
  throw WriteError(OutputName(path, target) + " cannot be written: " +
                   std::generic_category().message(err) + "; " + AdviceFor(err));
}

// Temporary files being written, for the signal handler: fixed storage, since
// a handler may only read what is already in place.
constexpr int kTempSlots = 256;
constexpr size_t kTempPathMax = 4096;
char gTempPaths[kTempSlots][kTempPathMax];
std::atomic<int> gTempUsed[kTempSlots];
std::atomic<uint64_t> gTempCounter{0};

// A new file, hidden beside the target (a rename within one file system is
// atomic), removed unless kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    const fs::path t(target);
    std::string name = ".";
    name += t.filename().string() + ".tilvane-" + std::to_string(getpid()) + "-" +
            std::to_string(gTempCounter.fetch_add(1)) + ".tmp";
    path_ = (t.parent_path() / name).string();
    if (path_.size() < kTempPathMax) {
      for (int i = 0; i < kTempSlots; ++i) {
        int expected = 0;
        if (gTempUsed[i].compare_exchange_strong(expected, 2)) {
          std::memcpy(gTempPaths[i], path_.c_str(), path_.size() + 1);
          gTempUsed[i].store(1, std::memory_order_release);
          slot_ = i;
          break;
        }
      }
    }
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    openError_ = fd_ < 0 ? errno : 0;
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (openError_ == 0 && !kept_) unlink(path_.c_str());
    if (slot_ >= 0) gTempUsed[slot_].store(0, std::memory_order_release);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  int openError() const { return openError_; }
  // Closes the file; the error number of a failed close, else 0.
  int close() {
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0 ? 0 : errno;
  }
  void keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  int openError_ = 0;
  int slot_ = -1;
  bool kept_ = false;
};

void OnSignal(int sig) {
  for (int i = 0; i < kTempSlots; ++i) {
    if (gTempUsed[i].load(std::memory_order_acquire) == 1) unlink(gTempPaths[i]);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// The error number of the first failed write, else 0.
int WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// A renamed entry is on disk once its directory is.
int FlushDirectory(const std::string& file) {
  const fs::path dir = fs::path(file).parent_path();
  const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  return err;
}

}  // namespace

void CheckOutputFormat(const std::string& path) {
  if (FormatOf(path) || IsMovieOutput(path)) return;
  const std::string ext = ExtensionOf(path);
  throw UsageError("-o " + Quoted(path) + ": " +
                   (ext.empty() ? std::string("no extension to say the format")
                                : "tilvane does not write " + ext + " files") +
                   "; end the name with " + kImageExtensionsShown + ", or for a movie " +
                   MovieExtensions());
}

void CheckOutputPath(const std::string& path) {
  CheckOutputFormat(path);
  const std::string target = WriteTarget(path);
  const fs::path dir = fs::path(target).parent_path();
  const std::string shown = dir.empty() ? "." : dir.string();
  // A missing directory is made before the first frame is written, as
  // mkdir -p would: the nearest one that exists must take it.
  std::error_code ec;
  fs::path existing = shown;
  while (!fs::exists(existing, ec) && existing.has_relative_path()) {
    existing = existing.has_parent_path() && existing.parent_path() != existing
                   ? existing.parent_path()
                   : fs::path(".");
  }
  const std::string made = existing.empty() ? "." : existing.string();
  if (!fs::is_directory(made, ec)) {
    throw UsageError(OutputName(path, target) + ": " + Quoted(made) +
                     " is not a directory; choose another place");
  }
  if (access(made.c_str(), W_OK) != 0) {
    throw UsageError(OutputName(path, target) + ": directory " + Quoted(made) +
                     " is not writable; choose another place");
  }
}

void MakeOutputDirectory(const std::string& path) {
  const fs::path dir = fs::path(WriteTarget(path)).parent_path();
  std::error_code ec;
  if (dir.empty() || fs::is_directory(dir, ec)) return;
  fs::create_directories(dir, ec);
  if (ec) {
    throw WriteError("-o " + Quoted(path) + ": directory " + Quoted(dir.string()) +
                     " cannot be created (" + ec.message() +
                     "); create it or choose another place");
  }
}

void CheckOutputs(const std::vector<std::string>& outputs, const std::vector<InputFile>& inputs,
                  bool noOverwrite) {
  std::map<std::pair<dev_t, ino_t>, const InputFile*> read;
  for (const InputFile& input : inputs) {
    struct stat st;
    if (stat(input.path.c_str(), &st) == 0) read.emplace(std::pair{st.st_dev, st.st_ino}, &input);
  }
  for (const std::string& path : outputs) {
    CheckOutputPath(path);
    struct stat link;
    if (lstat(path.c_str(), &link) != 0) continue;
    if (noOverwrite) {
      throw UsageError("-o " + Quoted(path) +
                       " exists and --no-overwrite was given; remove it or choose another name");
    }
    const std::string target = WriteTarget(path);
    struct stat st;
    if (stat(target.c_str(), &st) != 0) continue;  // a link to a file yet to be made
    if (!S_ISREG(st.st_mode)) {
      throw UsageError(OutputName(path, target) +
                       " exists and is not a regular file; choose a file name");
    }
    if (const auto it = read.find({st.st_dev, st.st_ino}); it != read.end()) {
      throw UsageError(OutputName(path, target) + " is the " + it->second->option + " file " +
                       Quoted(it->second->path) +
                       "; writing it would destroy the input, choose another output name");
    }
    // Root may write anything, but a file with no write permission at all is
    // one somebody protected.
    if ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
      throw UsageError(OutputName(path, target) +
                       " is read-only; make it writable (chmod u+w) or choose another name");
    }
  }
}

namespace {
const PngFilterEntry& EntryOf(PngFilter filter) {
  for (const PngFilterEntry& e : kPngFilters) {
    if (e.filter == filter) return e;
  }
  return kPngFilters[0];
}
}  // namespace

const char* PngFilterName(PngFilter filter) { return EntryOf(filter).name; }

int PngFilterFlags(PngFilter filter) { return EntryOf(filter).flags; }

std::optional<PngFilter> PngFilterNamed(const std::string& name) {
  for (const PngFilterEntry& e : kPngFilters) {
    if (Lower(name) == e.name) return e.filter;
  }
  return std::nullopt;
}

void EncodeAndWrite(const std::string& path, const OIIO::ImageSpec& given, OIIO::TypeDesc type,
                    const void* data, const PngOptions& png) {
  OIIO::ImageSpec spec = given;
  if (IsPng(path)) {
    if (!spec.find_attribute("png:compressionLevel")) {
      spec.attribute("png:compressionLevel", png.compression);
    }
    if (!spec.find_attribute("png:filter")) {
      spec.attribute("png:filter", PngFilterFlags(png.filter));
    }
  }
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    throw UsageError("-o " + Quoted(path) + ": no writer for this format (" +
                     OneLine(OIIO::geterror()) + "); end the name with " + kImageExtensionsShown);
  }
  // In memory first: the library's own file handling reports no full disk,
  // and the writes below check every byte.
  // Kept by each thread, so that a sequence's frames reuse one buffer.
  thread_local std::vector<unsigned char> encoded;
  encoded.clear();
  OIIO::Filesystem::IOVecOutput memory(encoded);
  const bool ok = WithMemoryFor("encoding " + Quoted(path), spec.image_bytes(), [&] {
    return out->set_ioproxy(&memory) && out->open(path, spec) && out->write_image(type, data) &&
           out->close();
  });
  if (!ok) {
    throw WriteError("-o " + Quoted(path) + " cannot be encoded (" + OneLine(out->geterror()) +
                     "); check the image size and format");
  }
  WriteFileAtomically(path, encoded);
}

void WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  const std::string target = WriteTarget(path);
  struct stat existing;
  const bool exists = stat(target.c_str(), &existing) == 0;
  TemporaryFile temp(target);
  if (temp.fd() < 0) WriteFailed(path, target, temp.openError());
  if (int err = WriteAll(temp.fd(), bytes.data(), bytes.size())) WriteFailed(path, target, err);
  if (exists) {
    // Owner and group only where the system allows (as root, or a group of the
    // user's); otherwise the file becomes the writer's, as with any editor.
    (void)!fchown(temp.fd(), existing.st_uid, existing.st_gid);
    if (fchmod(temp.fd(), existing.st_mode & 07777) != 0) WriteFailed(path, target, errno);
  }
  if (fsync(temp.fd()) != 0) WriteFailed(path, target, errno);
  if (int err = temp.close()) WriteFailed(path, target, err);
  if (rename(temp.path().c_str(), target.c_str()) != 0) WriteFailed(path, target, errno);
  temp.keep();
  if (int err = FlushDirectory(target)) WriteFailed(path, target, err);
}

class StreamedOutput::Temporary : public TemporaryFile {
 public:
  using TemporaryFile::TemporaryFile;
};

StreamedOutput::StreamedOutput(const std::string& path)
    : path_(path), target_(WriteTarget(path)), temp_(std::make_unique<Temporary>(target_)) {
  if (temp_->fd() < 0) failed(temp_->openError());
}

StreamedOutput::~StreamedOutput() = default;

const std::string& StreamedOutput::temporaryPath() const { return temp_->path(); }

void StreamedOutput::failed(int err) const { WriteFailed(path_, target_, err); }

void StreamedOutput::commit() {
  struct stat existing;
  if (stat(target_.c_str(), &existing) == 0) {
    (void)!fchown(temp_->fd(), existing.st_uid, existing.st_gid);
    if (fchmod(temp_->fd(), existing.st_mode & 07777) != 0) failed(errno);
  }
  // The other library wrote through its own descriptor; this one reaches the same file.
  if (fsync(temp_->fd()) != 0) failed(errno);
  if (int err = temp_->close()) failed(err);
  if (rename(temp_->path().c_str(), target_.c_str()) != 0) failed(errno);
  temp_->keep();
  if (int err = FlushDirectory(target_)) failed(err);
}

void RemoveTemporaryFilesOnSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnSignal);
  // Past a file size limit a write then fails with EFBIG, which is reported.
  std::signal(SIGXFSZ, SIG_IGN);
  // A reader of standard output that stops reading fails the write (EPIPE),
  // which the stream reports, instead of ending the tool silently.
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace tilvane_tool
