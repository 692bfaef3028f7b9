// The channel's life-cycle rules (see channel_gate.hpp).
#include "monitor/channel_gate.hpp"

#include "sandbox/monitor_channel.hpp"

namespace {

channel_verdict fault(const char* reason) { return {channel_action::fault, reason}; }

}  // namespace

channel_verdict channel_gate::judge(std::string_view packet, bool truncated) {
  if (truncated) return fault("request too long");
  if (packet.empty()) return fault("empty request");
  std::string_view payload = packet.substr(1);
  switch (packet.front()) {
    case ready_request:
      if (serving_) return fault("ready twice");
      if (!payload.empty()) return fault("ready with data");
      serving_ = true;
      return {channel_action::mark_ready};
    case metrics_request:
      if (!metrics_file_) return fault("metrics without a metrics file");
      if (!serving_) return fault("metrics before ready");
      if (payload.empty() || payload.find('\0') != std::string_view::npos)
        return fault("malformed metrics");
      return {channel_action::write_metrics};
    case spf_spawner_request:
    case archive_spawner_request:
      if (!serving_) return fault("spawner before ready");
      if (!payload.empty()) return fault("spawner request with data");
      return {channel_action::start_spawner};
    default: return fault("unknown request");
  }
}
