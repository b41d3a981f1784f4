// The debug log: protocol and state traces in fixed English texts.
//
// Traces always go to the "debugger output", which on Linux is standard error
// when QUILLNET_DEBUG is set in the environment.  With the "/d" start-up switch
// they also go to "Debug.log" in the program's directory; the previous log is
// kept as "Debug.old".  Safe to call from the port's worker threads.
#pragma once

#include <string>

// Writes text as it is.
void DebugLog(const char* text);
// Writes the seconds since the log was started (three decimals), a blank, then text.
void DebugLogTime(const char* text);
// printf-style conveniences over DebugLog.
void DebugLogF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Starts the file log in dir: deletes "Debug.old", renames "Debug.log" to
// "Debug.old", creates a new "Debug.log" and notes the start tick.  Returns
// false when the file cannot be created (tracing to the debugger output goes on).
bool StartDebugLogFile(const std::string& dir);
// Closes the file log (shutdown, and tests).
void StopDebugLogFile();
bool IsDebugLogFileOpen();
