// The filter process's spawner supply: on the one monitor channel that both
// kinds of spawner come through, each asker gets a spawner of its own kind.
#include "filter/spawner_supply.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sandbox/monitor_channel.hpp"

TEST(spawner_supply, a_waiting_reply_of_the_other_kind_is_dropped_not_taken) {
  int channel[2];
  int archive[2];
  int spf[2];
  ASSERT_TRUE(open_monitor_channel(channel));
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, archive), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, spf), 0);
  // The monitor's answer to an archive request the supply gave up on, then
  // its answer to the SPF request about to be made.
  ASSERT_TRUE(send_spawner_reply(channel[1], archive_spawner_request, archive[0]));
  ASSERT_TRUE(send_spawner_reply(channel[1], spf_spawner_request, spf[0]));
  close(archive[0]);
  close(spf[0]);

  use_monitor_for_spawners(channel[0]);
  int got = spf_spawner_from_monitor();
  use_monitor_for_spawners(-1);

  ASSERT_GE(got, 0);
  EXPECT_EQ(send(spf[1], "x", 1, 0), 1);
  char byte = 0;
  EXPECT_EQ(recv(got, &byte, 1, MSG_DONTWAIT), 1) << "the spawner handed over is the SPF one";
  pollfd archive_end{archive[1], POLLIN, 0};
  EXPECT_EQ(poll(&archive_end, 1, 0), 1);
  EXPECT_NE(archive_end.revents & POLLHUP, 0) << "the archive spawner's channel is closed";
  received_packet request = receive_request(channel[1]);
  EXPECT_EQ(request.data, "S");
  for (int fd : {got, archive[1], spf[1], channel[0], channel[1]}) close(fd);
}
