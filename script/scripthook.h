// The interpreter hooked into the program.
//
// The receive dispatcher runs the script at the start of each pass and feeds
// it the bytes the screen shows; a byte that ends a wait ends the pass, and
// the next pass runs at once, beginning with the statements after the wait.
// SEND goes to the port.  A time-out, sleep or quiet time gets a single-shot
// timer for its due moment, so it ends on time rather than at the next slow
// pass.  The dialler starts a host's ScriptFile once the call is up; hanging
// up, and a dial the user asks for, stop every script.
#pragma once

#include <cstdio>
#include <string>

struct SCRIPTERROR;

// Installs the hooks of the dispatcher, the interpreter and the dialler.
// Hooks of the interpreter another part has set (error reports, questions,
// debug output, the end of the last level) are left as they are.
void InstallScriptHooks();

// Arms the dispatcher's due timer for the running script's next due moment,
// if it has one (an earlier pass already due stays).
void ArmScriptDue();

// Script reports without a window, on `err` in UTF-8: each error report as
// one line "FILE:LINE: MESSAGE [COMMAND]" (no brackets without a command),
// each DEBUGINFO text as one line (its line breaks as spaces).  *failed
// becomes true at the first error report.
void InstallHeadlessScriptReports(FILE* err, bool* failed);
// The line an error report makes, without its line end.
std::string HeadlessErrorLine(const SCRIPTERROR& e);
