// The colour syntax wired into the terminal: the screen's finished lines go
// to the matcher (MYBITMAP::hooks newLine, classify, treeAdd), the matcher
// reads the quotation prefixes and the on-line state from the settings, and
// the stock's syntax hooks reach TAGMAKER (InstallTagEngine).
#pragma once

// Installs every hook above.  Call once before the stock opens.
void InstallColourSyntax();
