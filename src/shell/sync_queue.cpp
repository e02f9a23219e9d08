#include "shell/backend.h"

void TSyncQueue::Call(const std::function<void()>& fn) {
  Item item{fn};
  {
    std::lock_guard lock(mutex_);
    items_.push_back(&item);
  }
  if (OnQueued) OnQueued();
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return item.done; });
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
    // An exception must not leave the caller waiting for good.
    try {
      item->fn();
    } catch (...) {
    }
    {
      std::lock_guard lock(mutex_);
      item->done = true;
    }
    cv_.notify_all();
  }
  return any;
}
