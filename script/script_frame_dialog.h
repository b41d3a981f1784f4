// The script statements brought to the frame: the dialogs of SCRIPTDIALOGCMDS
// (input, timed box, pop-up menu, clipboard) and the window side of
// SCRIPTPROGRAMCMDS (title, window state, font, input method, beep, closing,
// the disabled window of RUNSYNC, leaving back-scroll), KEYSTATE's keys, and
// the typing lock of KEYBOARD OFF (a key meant for the host beeps instead).
#pragma once

class FRAMEWINDOW;

// Call once the frame exists (windowed runs only).
void InstallScriptDialogs(FRAMEWINDOW* frame);
