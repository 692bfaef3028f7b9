// Per-ttl expiry queues of the SPF cache (see spf_cache_expiry.hpp).
#include "checks/spf_cache_expiry.hpp"

namespace {

// How far a new entry is moved back from the tail to keep its queue sorted.
constexpr int reorder_steps = 8;

int64_t ttl_distance(int32_t a, int32_t b) {
  int64_t distance = static_cast<int64_t>(a) - b;
  return distance < 0 ? -distance : distance;
}

// The queue of `ttl`, else an unused one, else the one of the closest ttl.
std::size_t queue_for(const spf_cache_queue (&queues)[spf_cache_queue_count], int32_t ttl) {
  std::size_t unused = spf_cache_queue_count;
  std::size_t closest = 0;
  for (std::size_t index = 0; index < spf_cache_queue_count; ++index) {
    const spf_cache_queue& queue = queues[index];
    if (queue.head == nullptr) {
      if (unused == spf_cache_queue_count) unused = index;
      continue;
    }
    if (queue.ttl == ttl) return index;
    if (ttl_distance(queue.ttl, ttl) < ttl_distance(queues[closest].ttl, ttl) ||
        queues[closest].head == nullptr) {
      closest = index;
    }
  }
  return unused != spf_cache_queue_count ? unused : closest;
}

}  // namespace

void spf_cache_expiry::push(spf_cache_entry* entry, int32_t ttl) {
  std::size_t index = queue_for(queues, ttl);
  spf_cache_queue& queue = queues[index];
  if (queue.head == nullptr) queue.ttl = ttl;
  entry->queue = static_cast<uint8_t>(index);
  // The entry goes after `older`: the tail, or a few places before it when
  // those expire later than this entry.
  spf_cache_entry* older = queue.tail;
  for (int step = 0; step < reorder_steps && older != nullptr && older->expiry > entry->expiry;
       ++step) {
    older = older->queue_older;
  }
  spf_cache_entry* newer = older != nullptr ? older->queue_newer : queue.head;
  entry->queue_older = older;
  entry->queue_newer = newer;
  (older != nullptr ? older->queue_newer : queue.head) = entry;
  (newer != nullptr ? newer->queue_older : queue.tail) = entry;
}

void spf_cache_expiry::remove(spf_cache_entry* entry) {
  spf_cache_queue& queue = queues[entry->queue];
  spf_cache_entry* older = entry->queue_older;
  spf_cache_entry* newer = entry->queue_newer;
  (older != nullptr ? older->queue_newer : queue.head) = newer;
  (newer != nullptr ? newer->queue_older : queue.tail) = older;
  entry->queue_older = nullptr;
  entry->queue_newer = nullptr;
}

spf_cache_entry* spf_cache_expiry::soonest() const {
  spf_cache_entry* first = nullptr;
  for (const spf_cache_queue& queue : queues) {
    if (queue.head != nullptr && (first == nullptr || queue.head->expiry < first->expiry)) {
      first = queue.head;
    }
  }
  return first;
}

std::size_t spf_cache_expiry::free_all() {
  std::size_t freed = 0;
  for (spf_cache_queue& queue : queues) {
    spf_cache_entry* entry = queue.head;
    while (entry != nullptr) {
      spf_cache_entry* newer = entry->queue_newer;
      free_spf_cache_entry(entry);
      entry = newer;
      ++freed;
    }
    queue = spf_cache_queue{};
  }
  return freed;
}
