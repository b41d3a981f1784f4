// The dialler's windows: the "接続" dialling window over a DIRECTDIAL, the
// small "電話を切る" hang-up window, the "文字化け対策" countermeasures
// dialog, the number (or telnet host name) input and the serial port chooser.
#pragma once

// Installs every window into TAPISUB::hooks (call once the application
// object exists).  Without them the dialler runs without windows: no number
// is asked for, the dialling runs from a timer loop, no other port is offered
// and the countermeasures are only reported.
void InstallDialingWindows();
