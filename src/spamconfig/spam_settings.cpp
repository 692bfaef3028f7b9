#include "spamconfig/spam_settings.hpp"

#include <mutex>
#include <new>
#include <utility>

namespace {

struct record_deleter {
  void operator()(spam_config_record* record) const {
    free_spam_config(*record);
    delete record;
  }
};

std::mutex settings_lock;
spam_settings settings_in_force;  // guarded by settings_lock

spam_settings default_settings() {
  std::shared_ptr<spam_config_record> record = make_spam_config_record();
  if (!record) throw std::bad_alloc();
  set_spam_config_defaults(*record);
  compile_disposition_pattern(*record);
  return record;
}

}  // namespace

std::shared_ptr<spam_config_record> make_spam_config_record() {
  auto* record = new (std::nothrow) spam_config_record{};
  if (record == nullptr) return nullptr;
  try {
    return std::shared_ptr<spam_config_record>(record, record_deleter{});
  } catch (const std::bad_alloc&) {
    return nullptr;  // the deleter has already released the record
  }
}

spam_settings current_spam_settings() {
  std::lock_guard<std::mutex> hold(settings_lock);
  if (!settings_in_force) settings_in_force = default_settings();
  return settings_in_force;
}

void publish_spam_settings(spam_settings settings) {
  {
    std::lock_guard<std::mutex> hold(settings_lock);
    settings_in_force.swap(settings);
  }
  // `settings` now holds the replaced record; dropped here, outside the lock.
}
