// The frame's script menu and the interpreter's error report brought to the
// script windows: the frame's scriptCommand and scriptState, the error
// dialog, the status window.
#pragma once

class FRAMEWINDOW;

// Call once the frame exists (windowed runs only: headless runs keep their
// own error report).
void InstallScriptWindows(FRAMEWINDOW* frame);

// A script menu command by number (44, 56, 57, 58, 59, 62, 144, 145).
void ScriptMenuCommand(FRAMEWINDOW* frame, int command);
