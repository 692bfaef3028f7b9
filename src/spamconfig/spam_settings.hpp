// The spam-check settings in force, published whole.
//
// Writers: start-up on the main thread, then the settings reload on the
// reload thread (SIGUSR2), through publish_spam_settings. Readers: the
// connect stage takes one snapshot per connection and the connection keeps
// it until close, so a connection never sees two versions. A published
// record is never changed; the last holder of a replaced one frees it. A
// private mutex covers only the taking of a snapshot and the swap of the
// pointer, never loading or freeing.
#pragma once

#include <memory>

#include "spamconfig/spam_config.hpp"

using spam_settings = std::shared_ptr<const spam_config_record>;

// A zero-filled record whose last holder frees what it owns
// (free_spam_config) and the record itself. Null when memory is short.
std::shared_ptr<spam_config_record> make_spam_config_record();

// The settings in force; never null (the defaults until a first publish).
spam_settings current_spam_settings();

// Puts `settings` (not null) in force in one step.
void publish_spam_settings(spam_settings settings);
