#include "filter/settings_reload.hpp"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <syslog.h>
#include <utility>

#include "checks/spf_cache.hpp"
#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "metrics/counters.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/spam_settings.hpp"

bool install_spam_settings(const char* path) {
  spam_config_load loaded = load_spam_config(path);
  if (!loaded.settings) {
    // No memory even for the defaults: keep the defaults published lazily.
    (void)std::fprintf(stderr, "WARN:Failed to configuration file.\n");
    return false;
  }
  if (!loaded.file_read) (void)std::fprintf(stderr, "WARN:Failed to configuration file.\n");
  publish_spam_settings(std::move(loaded.settings));
  return loaded.file_read;
}

bool reload_spam_settings(const char* path) {
  spam_config_load loaded = load_spam_config(path);
  if (!loaded.file_read || !loaded.settings) {
    log_line(LOG_CRIT, "TESLO settings reload failed: %s: %s", path, error_text(loaded.error));
    count(metric::settings_reload_failed);
    return false;
  }
  prepare_spf_cache(*loaded.settings);
  publish_spam_settings(std::move(loaded.settings));
  log_line(LOG_INFO, "TESLO settings reload");
  count(metric::settings_reloaded);
  return true;
}

void prepare_spf_cache(const spam_config_record& config) {
  auto limit = static_cast<std::size_t>(config.spfcachesize);
  if (spf_cache_allocated()) {
    spf_cache_set_limit(limit);
  } else if (config.ttl != 0 && !spf_cache_init(limit)) {
    log_line(LOG_ERR, "[ERROR] cache engine init failed");
  }
}
