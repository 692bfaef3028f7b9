// Keeps the callback fuzz target off the network: the blocklist resolver and
// the SPF DNS layer answer from fixed local tables only. Installed once per
// process by LLVMFuzzerInitialize; nothing ever reaches the host's resolver.
//
// Blocklist answers (zone "bl.test"): 192.0.2.7 is listed (127.0.0.2),
// 192.0.2.8 gets a public list's error answer (127.255.255.254), 192.0.2.9
// gets an error answer and an IPv6 address; every other name does not exist.
// SPF zone: pass.test, fail.test, soft.test, neutral.test, include.test,
// redirect.test, macro.test and bad-record.test.
#pragma once

namespace fuzz {

void install_offline_seams();

}  // namespace fuzz
