#include "tools/tilvane/output/ordered_sink.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace tilvane_tool {

struct OrderedSink::Queue {
  std::unique_ptr<FrameWriter> writer;
  size_t total;
  size_t window;
  std::mutex mutex;
  std::condition_variable changed;
  std::map<size_t, standin::World> waiting;
  size_t next = 0;  // the index written next
  bool aborted = false;
  std::exception_ptr error;
  std::thread thread;

  void run() {
    for (;;) {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return aborted || next == total || waiting.count(next) > 0; });
      if (aborted || next == total) return;
      auto node = waiting.extract(next);
      lock.unlock();
      try {
        writer->write(node.mapped());
      } catch (...) {
        lock.lock();
        error = std::current_exception();
        changed.notify_all();
        return;
      }
      lock.lock();
      ++next;
      changed.notify_all();
    }
  }
};

OrderedSink::OrderedSink(std::unique_ptr<FrameWriter> writer, size_t total, size_t window)
    : queue_(std::make_unique<Queue>(std::move(writer), total, std::max<size_t>(window, 1))) {
  queue_->thread = std::thread([q = queue_.get()] { q->run(); });
}

OrderedSink::~OrderedSink() {
  abort();
  if (queue_->thread.joinable()) queue_->thread.join();
}

void OrderedSink::put(size_t index, standin::World frame) {
  Queue& q = *queue_;
  std::unique_lock lock(q.mutex);
  // Frames are taken in order, so the one the writer waits for is never held back here.
  q.changed.wait(lock, [&] { return q.aborted || q.error || index < q.next + q.window; });
  if (q.error) std::rethrow_exception(q.error);
  if (q.aborted) return;
  q.waiting.emplace(index, std::move(frame));
  q.changed.notify_all();
}

void OrderedSink::abort() {
  std::lock_guard lock(queue_->mutex);
  queue_->aborted = true;
  queue_->changed.notify_all();
}

bool OrderedSink::onDisk() const { return queue_->writer->onDisk(); }

void OrderedSink::finish() {
  queue_->thread.join();
  if (queue_->error) std::rethrow_exception(queue_->error);
  queue_->writer->finish();
}

}  // namespace tilvane_tool
