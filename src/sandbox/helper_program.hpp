// What a sandboxed helper program (teslo-spf, teslo-archive) finds when its
// spawner (src/spawner) starts it: its channel to the serving process at
// helper_channel_fd, the standard descriptors, no argument but its name and
// an empty environment.
#pragma once

inline constexpr int helper_channel_fd = 3;
