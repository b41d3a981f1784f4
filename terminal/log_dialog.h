// The log's two windows: the size-limit question that answers itself after
// a while, and the log-start dialog's own fields (size limit, plain text).
#pragma once

#include <string>

// Makes LOG use these windows (call once the application object exists).
// Without it the size-limit question is an ordinary message box and the
// log-start dialog asks for the file only.
void InstallLogDialogs();

// The size-limit question: yes goes on in a fresh file, no ends the log.
// Nobody answering within msTimeout counts as yes.  Returns
// LOG::kLimitContinue for yes, ui::IDNO otherwise.
int AskLogLimit(const std::string& text, int msTimeout);

// The log-start options: size limit in KB (an empty field, below 1 or above
// 9999 mean no limit, 9999) and the plain-text check box, both filled in
// beforehand.  False when cancelled.
bool AskLogStartOptions(int& kbLimit, int& textLog);
