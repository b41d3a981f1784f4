// The connecting window of a telnet call: "telnet接続中", the host name and a
// cancel button, shown while TELNET::ConnectSocket waits for its attempt.
#pragma once

// Makes TELNET::ConnectSocket show this window (call once the application
// object exists).  Without it, connects run without a window.
void InstallTelnetDialingWindow();
