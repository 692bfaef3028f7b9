// The SPF asker of the test programs: questions evaluated in the asking
// process (in_process_spf.cpp), or answered by a script of the test's.
#pragma once

#include "spf/spf_question.hpp"

// What a scripted question answers; null: evaluated in this process.
using spf_answer_script = spf_evaluation (*)(const spf_question& question);

// Installs `script` for the questions asked from now on.
void script_spf_answers(spf_answer_script script);
