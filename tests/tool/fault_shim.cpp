// System calls that fail on request, preloaded into the tool by the tests
// (LD_PRELOAD) to reach the failures a healthy machine never shows.
// TILVANE_TEST_FAULT names one:
//   fsync   flushing a regular file fails with EIO; directories still flush
//   rename  every rename fails with EIO
//   thread  every thread the program starts after its first fails to start,
//           as at a process limit
// Whatever the fault, two more variables fake a machine and watch the threads:
//   TILVANE_TEST_CORES=N        the system reports N cores
//   TILVANE_TEST_THREAD_PEAK=F  at exit, F holds the most threads the program
//                               started that ran at once
#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
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

int get_nprocs() {
  static const auto real = Real<int (*)()>("get_nprocs");
  const char* cores = std::getenv("TILVANE_TEST_CORES");
  return cores != nullptr ? std::atoi(cores) : real();
}

}  // extern "C"

namespace {

std::atomic<int> gRunning{0};
std::atomic<int> gPeak{0};

struct Counted {
  void* (*start)(void*);
  void* arg;
};

void* RunCounted(void* counted) {
  const Counted c = *static_cast<Counted*>(counted);
  delete static_cast<Counted*>(counted);
  const int running = gRunning.fetch_add(1) + 1;
  for (int peak = gPeak.load(); running > peak && !gPeak.compare_exchange_weak(peak, running);) {
  }
  void* result = c.start(c.arg);
  gRunning.fetch_sub(1);
  return result;
}

__attribute__((destructor)) void WritePeak() {
  const char* file = std::getenv("TILVANE_TEST_THREAD_PEAK");
  if (file == nullptr) return;
  if (FILE* f = std::fopen(file, "w")) {
    std::fprintf(f, "%d\n", gPeak.load());
    std::fclose(f);
  }
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = Real<Create>("pthread_create");
  static std::atomic<int> started{0};
  if (Faulty("thread") && gMainStarted && started.fetch_add(1) >= 1) return EAGAIN;
  if (!gMainStarted) return real(thread, attr, start, arg);
  auto* counted = new Counted{start, arg};
  const int err = real(thread, attr, RunCounted, counted);
  if (err != 0) delete counted;
  return err;
}

}  // extern "C"
