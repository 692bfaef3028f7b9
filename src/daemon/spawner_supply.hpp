// The filter process's supply of SPF spawners: each comes from the root
// monitor, asked for over the monitor's channel (monitor_channel.hpp),
// because this process may not create processes itself.
//
// spawner_from_monitor is the evaluator pool's spawner_supply
// (spf/evaluator_pool.hpp), so it runs under the pool's lock only, on
// whichever worker thread needs a spawner: at the first SPF question and
// after a spawner ended. It sends one spawner request and waits up to a
// second for the replies still owed. Replies come in the order of the
// requests, so after a reply that came too late for its own request the
// last reply read is the spawner the monitor started last; every earlier
// one is closed (the monitor has ended those spawners). The channel is
// otherwise written only (metrics, ready), so nothing else reads from it.
#pragma once

// The channel to ask on: the filter's end of the monitor's channel.
void use_monitor_for_spawners(int channel);

// The end of a new spawner's channel, or -1 (no channel, the monitor could
// not start one, or no reply within a second).
int spawner_from_monitor();
