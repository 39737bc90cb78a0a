// System calls that fail on request, preloaded into the tool by the tests
// (LD_PRELOAD) to reach the failures a healthy machine never shows.
// TILVANE_TEST_FAULT names one:
//   fsync   flushing a regular file fails with EIO; directories still flush
//   rename  every rename fails with EIO
//   thread  every thread the program starts after its first fails to start,
//           as at a process limit
#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool Faulty(const char* call) {
  const char* fault = std::getenv("TILVANE_TEST_FAULT");
  return fault != nullptr && std::strcmp(fault, call) == 0;
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int fsync(int fd) {
  static const auto real = Real<int (*)(int)>("fsync");
  struct stat st;
  if (Faulty("fsync") && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}

int rename(const char* from, const char* to) {
  static const auto real = Real<int (*)(const char*, const char*)>("rename");
  if (Faulty("rename")) {
    errno = EIO;
    return -1;
  }
  return real(from, to);
}

// Libraries start threads of their own while they load, before main; only
// the threads the program starts count.
std::atomic<bool> gMainStarted{false};

using Main = int (*)(int, char**, char**);
int __libc_start_main(Main main, int argc, char** argv, void (*init)(), void (*fini)(),
                      void (*rtldFini)(), void* stackEnd) {
  using Start = int (*)(Main, int, char**, void (*)(), void (*)(), void (*)(), void*);
  static const auto real = Real<Start>("__libc_start_main");
  gMainStarted = true;
  return real(main, argc, argv, init, fini, rtldFini, stackEnd);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = Real<Create>("pthread_create");
  static std::atomic<int> started{0};
  if (Faulty("thread") && gMainStarted && started.fetch_add(1) >= 1) return EAGAIN;
  return real(thread, attr, start, arg);
}

}  // extern "C"
