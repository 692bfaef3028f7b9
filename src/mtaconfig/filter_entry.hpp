// How Sendmail's configuration names this filter: "TESLO" on the daemon's
// socket, with its flags and timeouts. Built at compile time from
// paths::filter_socket, so the socket path is written once.
//
// filter_definition_line is the sendmail.cf definition install_cf_entry
// writes; filter_macro_line the INPUT_MAIL_FILTER line install_mc_entry puts
// above "MAILER(local)" (it ends in a blank). The macro line quotes the whole
// equate list, so m4 passes flags and timeouts through and a regenerated
// sendmail.cf holds exactly filter_definition_line.
#pragma once

#include <string_view>

#include "common/joined_literal.hpp"
#include "common/paths.hpp"

namespace filter_entry {

inline constexpr char flags_and_timeouts[] = ", F=, T=S:240s;R:240s;E:5m";

// "S=unix:<socket>", then the flags and timeouts.
inline constexpr auto equates = join_literals("S=unix:", paths::filter_socket, flags_and_timeouts);
// The start of the definition line, whichever equates follow.
inline constexpr auto definition_start = join_literals("XTESLO, S=unix:", paths::filter_socket);
// The line earlier versions wrote: the R flag, no timeouts.
inline constexpr auto old_definition =
    join_literals("XTESLO, S=unix:", paths::filter_socket, ", F=R");
inline constexpr auto definition =
    join_literals("XTESLO, S=unix:", paths::filter_socket, flags_and_timeouts);
inline constexpr auto macro = join_literals(
    "INPUT_MAIL_FILTER(`TESLO', `S=unix:", paths::filter_socket, flags_and_timeouts, "')dnl ");

}  // namespace filter_entry

inline constexpr std::string_view filter_definition_line = filter_entry::definition.view();
inline constexpr std::string_view filter_macro_line = filter_entry::macro.view();
