#include "shell/backend.h"

void TSyncQueue::Call(const std::function<void()>& fn) {
  Item item{fn, false, nullptr};
  {
    std::lock_guard lock(mutex_);
    items_.push_back(&item);
  }
  if (OnQueued) OnQueued();
  {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return item.done; });
  }
  // What failed on the window's thread fails the caller: a question that could
  // not be asked has no answer.
  if (item.error) std::rethrow_exception(item.error);
}

bool TSyncQueue::Drain() {
  bool any = false;
  for (;;) {
    Item* item;
    {
      std::lock_guard lock(mutex_);
      if (items_.empty()) break;
      item = items_.front();
      items_.pop_front();
    }
    any = true;
    std::exception_ptr error;
    try {
      item->fn();
    } catch (...) {
      error = std::current_exception();  // handed to the caller, who waits for it
    }
    {
      std::lock_guard lock(mutex_);
      item->error = std::move(error);  // the caller's alone from here on
      item->done = true;
    }
    cv_.notify_all();
  }
  return any;
}
