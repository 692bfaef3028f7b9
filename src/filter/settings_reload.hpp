// Putting the spam-check settings in force in the filter process: once when
// it starts, then on every SIGUSR2 the monitor gets.
//
// Both load the file aside into a complete new record (its patterns
// compiled) and publish it whole (spamconfig/spam_settings.hpp); connections
// already open keep the record they took at connect. The start runs on the
// main thread, the reload on the reload thread, never in a signal handler.
//
// What a reload changes: every setting and list, for connections opened
// after it. The SPF cache keeps its entries and each its expiry; a `ttl` of 0
// stops the use of the cache, and a `ttl` other than 0 creates the cache if
// it does not exist yet. A new "spfcachesize" applies at once: a cache over
// the new bound evicts the entries closest to expiry, on the reload thread,
// a thousand at a time (some 2.5 seconds for 9 million entries).
//
// Log lines of a reload: LOG_INFO "TESLO settings reload" when the new
// settings are in force; LOG_CRIT "TESLO settings reload failed: %s: %s"
// (the path, the reason) when the file cannot be opened or read, and the
// settings in force stay. LOG_ERR "[ERROR] cache engine init failed" when a
// cache is needed and cannot be made (the daemon then runs without one).
#pragma once

#include "spamconfig/spam_config.hpp"

// Start-up: publishes the settings of `path`, or every default when the file
// cannot be opened or read (then "WARN:Failed to configuration file.\n" goes
// to standard error). False in that case.
bool install_spam_settings(const char* path);

// SIGUSR2: publishes the settings of `path`; false, after the LOG_CRIT line,
// when the file cannot be opened or read and nothing changed.
bool reload_spam_settings(const char* path);

// Gives an existing SPF cache the bound of `config`, or creates the cache
// with that bound when `config` asks for one (`ttl` not 0); logs the LOG_ERR
// line when that fails.
void prepare_spf_cache(const spam_config_record& config);
