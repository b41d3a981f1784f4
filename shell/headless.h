// The program without a window: completed screen lines go to a stream as
// UTF-8, one output line per stored line, so that a call can be followed or
// captured from a shell.
#pragma once

#include <cstdio>
#include <string>

// Sends each line the screen completes (by a line feed at the newest line or
// by a wrap) to `out`.  Lines are converted and written by a thread of the
// mirror's own, in batches: FlushHeadlessMirror hands over what has
// gathered (call it now and then), RemoveHeadlessMirror writes everything
// and stops the thread.
void InstallHeadlessMirror(FILE* out);
void RemoveHeadlessMirror();
void FlushHeadlessMirror();

// One stored line's text as shown: empty cells and the filler of a moved
// double-byte character as blanks, the line end and trailing blanks
// removed, converted to UTF-8.
std::string MirrorLineText(const char* text, int length);
