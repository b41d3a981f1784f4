// The mirror file "Quillnet.ini" beside the settings file: a few settings and
// the host list for other programs, and the section "_NewHost" through which
// they register hosts.
//
//   [_NewHost]
//   My BBS=1            one key per host; a non-zero value puts it in the menu
//   [My BBS]
//   ModemType=2         the host's values, named as in the settings store
//   PortName=bbs.example.jp
//
// The file is UTF-8, like every text file the program writes.
#pragma once

#include <string>

std::string QuillnetIniPath();
// Replaces the mirror file with the current settings and host list.
bool CreateQuillnetIni();
// When UseIni is set: creates the mirror file when it is missing, else
// imports the hosts named in "_NewHost" and removes the names it imported.
void CheckQuillnetIniUpdate();
