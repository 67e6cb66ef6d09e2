// The sequence players' event queue, as the console keeps it: a list in
// time order in which each event holds its delay after the one before it,
// made of a fixed number of items (the players have 64). A post to a full
// queue is lost; equal times keep the order of posting.
#pragma once

#include <cstdint>
#include <vector>

namespace zaft {

enum class PlayerEventType : int16_t {
  None = -1,   // what an empty queue hands out
  SeqRef,      // the sequence's next event is due
  Api,         // the player's heartbeat, once a video frame
  NoteEnd,     // a released voice is done
  Env,         // an envelope segment starts
  NoteOff,     // a compact note's end
  Stop,        // the sequence ended: every voice stops
  Play,
  SetSeq,
  SetBank,
};

struct PlayerEvent {
  PlayerEventType type = PlayerEventType::None;
  int32_t voice = -1;   // NoteEnd, Env: the voice state
  uint8_t level = 0;    // Env: the level to reach...
  int32_t ramp = 0;     // ...over this many microseconds
  uint8_t status = 0;   // NoteOff: the channel message
  uint8_t byte1 = 0;
  uint8_t byte2 = 0;
};

class EventQueue {
 public:
  static constexpr int32_t kEnd = 0x7FFFFFFF;  // post after everything queued
  static constexpr int kNone = -1;

  explicit EventQueue(int capacity);

  // False when the queue was full and the event is lost.
  bool post(const PlayerEvent& e, int32_t delta);
  // The first event and its delay; type None and 0 when the queue is empty.
  int32_t next(PlayerEvent& e);

  // Walking and editing the queued items in order (as the players do).
  int first() const { return next_[head()]; }
  int after(int item) const { return next_[item]; }
  PlayerEvent& event(int item) { return event_[item]; }
  const PlayerEvent& event(int item) const { return event_[item]; }
  int32_t& delta(int item) { return delta_[item]; }
  // Takes the item out, its delay added to the one after it, and frees it.
  void drop(int item);
  // Takes the item out without touching the delays.
  void unlink(int item);
  // Puts `item` right after `to` (an item, or head() for the front).
  void link(int item, int to);
  // Starts a detached chain at the item.
  void detach(int item) { next_[item] = prev_[item] = kNone; }
  // Puts a detached item back in time order, its delay counted from now.
  void repost(int item);
  int head() const { return capacity_; }

 private:
  int freeHead() const { return capacity_ + 1; }

  int capacity_;
  std::vector<int> next_, prev_;  // items, then the queue's head, then the free list's
  std::vector<int32_t> delta_;
  std::vector<PlayerEvent> event_;
};

}  // namespace zaft
