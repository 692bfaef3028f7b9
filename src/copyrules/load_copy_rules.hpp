// Loading of the XML copy-rule file into the rule table.
//
// Start-up calls load_copy_rules on the main thread before any worker thread
// exists; the reload thread calls it on every SIGUSR1. Loads must not run
// concurrently with each other (there is only the one reload thread).
// No log lines: the callers log the exception text.
#pragma once

#include "copyrules/copy_rule_table.hpp"
#include "copyrules/rule_walker.hpp"

// Parses `path` with validation against the document type definition it
// declares and with entity substitution, and returns its rules. Throws a
// std::exception whose what() is the parser's message when the file is
// missing, not well-formed, declares no DTD or breaks it.
copy_rule_table read_copy_rule_file(const char* path);

// The same reading, returning the whole walk: the rules with their source
// lines, the fields still pending at the end and the text set aside. Used by
// the configuration checker; throws as read_copy_rule_file does.
rule_walk_state walk_copy_rule_file(const char* path);

// Reads `path` and puts exactly its rules in force, replacing the previous
// table in one step. On failure the table in force becomes empty and the
// exception reaches the caller.
void load_copy_rules(const char* path);
