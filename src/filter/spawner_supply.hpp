// The filter process's supply of spawners: each comes from the root
// monitor, asked for over the monitor's channel (monitor_channel.hpp),
// because this process may not create processes itself.
//
// spf_spawner_from_monitor and archive_spawner_from_monitor are the
// spawner supplies (sandbox/spawner_client.hpp) of the SPF evaluator pool
// and of the archive listers; each runs on whichever worker thread needs a
// spawner of its kind: at the first SPF question or archive and after that
// kind's spawner ended. It sends one spawner request and waits up to a
// second for the replies still owed. A private lock keeps one exchange on
// the channel at a time. Replies come in the order of the requests, so
// after a reply that came too late for its own request the last reply read
// of a kind is the spawner of that kind the monitor started last; every
// earlier one is closed (the monitor has ended those spawners), and so is a
// late one of the other kind (its pool asks again when it needs one). The
// channel is otherwise written only (metrics, ready), so nothing else reads
// from it.
#pragma once

// The channel to ask on: the filter's end of the monitor's channel. Called
// before the first thread.
void use_monitor_for_spawners(int channel);

// The end of a new spawner's channel, or -1 (no channel, the monitor could
// not start one, or no reply within a second).
int spf_spawner_from_monitor();
int archive_spawner_from_monitor();
