#include "audio/render/event_queue.h"

#include <cstddef>

namespace zaft {

EventQueue::EventQueue(int capacity)
    : capacity_(capacity),
      next_(static_cast<size_t>(capacity) + 2, kNone),
      prev_(static_cast<size_t>(capacity) + 2, kNone),
      delta_(static_cast<size_t>(capacity) + 2, 0),
      event_(static_cast<size_t>(capacity) + 2) {
  for (int i = 0; i < capacity; ++i) link(i, freeHead());
}

void EventQueue::unlink(int item) {
  if (next_[item] != kNone) prev_[next_[item]] = prev_[item];
  if (prev_[item] != kNone) next_[prev_[item]] = next_[item];
}

void EventQueue::link(int item, int to) {
  next_[item] = next_[to];
  prev_[item] = to;
  if (next_[to] != kNone) prev_[next_[to]] = item;
  next_[to] = item;
}

void EventQueue::drop(int item) {
  if (next_[item] != kNone) delta_[next_[item]] += delta_[item];
  unlink(item);
  link(item, freeHead());
}

bool EventQueue::post(const PlayerEvent& e, int32_t delta) {
  const int item = next_[freeHead()];
  if (item == kNone) return false;
  unlink(item);
  event_[item] = e;
  const bool atEnd = delta == kEnd;
  for (int node = head(); node != kNone; node = next_[node]) {
    const int nextItem = next_[node];
    if (nextItem == kNone) {
      delta_[item] = atEnd ? 0 : delta;
      link(item, node);
      break;
    }
    if (delta < delta_[nextItem]) {
      delta_[item] = delta;
      delta_[nextItem] -= delta;
      link(item, node);
      break;
    }
    delta -= delta_[nextItem];
  }
  return true;
}

int32_t EventQueue::next(PlayerEvent& e) {
  const int item = next_[head()];
  if (item == kNone) {
    e = PlayerEvent();
    return 0;
  }
  unlink(item);
  e = event_[item];
  link(item, freeHead());
  return delta_[item];
}

void EventQueue::repost(int item) {
  for (int node = head(); node != kNone; node = next_[node]) {
    const int nextItem = next_[node];
    if (nextItem == kNone) {
      link(item, node);
      return;
    }
    if (delta_[item] < delta_[nextItem]) {
      delta_[nextItem] -= delta_[item];
      link(item, node);
      return;
    }
    delta_[item] -= delta_[nextItem];
  }
}

}  // namespace zaft
