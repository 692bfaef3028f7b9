// The expiry order of the SPF cache: one queue per ttl in use, oldest entry
// at the head.
//
// Entries stored with the same ttl expire in the order they were stored, so
// each queue is sorted by expiry when entries are appended at its tail, and
// the entry that expires soonest is the earliest of the few queue heads.
// That makes dropping expired entries and evicting the one closest to
// expiry constant-time. An entry stored a little out of time order (threads
// that read the clock in one order and take the lock in the other) is moved
// back past the few later ones; after a large step of the system clock an
// entry may sit behind a later one, which only delays its drop until the
// entries ahead of it have gone (it is never answered after its expiry).
//
// At most spf_cache_queue_count ttls have queues at a time (the settings of
// one reload, and of the few reloads before it whose entries still live);
// a further ttl shares the queue of the closest ttl, in the same
// approximate order. Plain data, zero-filled when unused; every member is
// called with the cache lock held.
#pragma once

#include <cstddef>
#include <cstdint>

#include "checks/spf_cache_entry.hpp"

constexpr std::size_t spf_cache_queue_count = 16;

struct spf_cache_queue {
  spf_cache_entry* head;  // expires first; null when the queue is unused
  spf_cache_entry* tail;  // expires last
  int32_t ttl;            // the ttl its entries were stored with
};

struct spf_cache_expiry {
  spf_cache_queue queues[spf_cache_queue_count];

  // Appends `entry` (its expiry set) to the queue of `ttl`.
  void push(spf_cache_entry* entry, int32_t ttl);
  void remove(spf_cache_entry* entry);
  // The entry that expires first of all queue heads, or null when empty.
  spf_cache_entry* soonest() const;
  // Frees every queued entry; returns how many. Leaves the queues empty.
  std::size_t free_all();
};
