// Which configuration files the filter process's user cannot read.
//
// The filter process reads the copy rules, their document type and the
// spam-check settings as its own user, at every start and reload. At start
// the monitor asks a short-lived child that has become that user to open
// each file, and logs one LOG_WARNING "%s cannot be read by user %s: %s"
// (the path, the user, the reason) for each that it could not open for want
// of permission. A missing file is not reported here (its loader says what
// happens then). Nothing is checked when the daemon runs without root.
#pragma once

#include <initializer_list>

#include "sandbox/unprivileged_user.hpp"

void warn_unreadable_config(const unprivileged_account& account,
                            std::initializer_list<const char*> paths);
