#pragma once

// Puts every process-wide part of the program (dialler, dispatcher, port,
// telnet, log, stock, screen, echo recognition, settings store, host list,
// on-line state, the current host and the settings) back to its first state,
// so a test that dialled, logged or wrote a stock leaves nothing to the next.
void ResetProgramForTest();
