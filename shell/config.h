// CONFIG: program settings, and `config`, the one instance.
//
// For now this holds the values the line needs; the settings store that loads
// and saves the whole set builds on it.
#pragma once

#include <string>

class CONFIG {
 public:
  CONFIG() { SetDefault(); }
  void SetDefault();

  int CheckCommError;  // line errors set COMPORT::fErrorDetect
  int CdCheck;         // watch the carrier-detect signal on modem lines
  int NoiseMixing;     // test aid: damage received and sent bytes now and then
  // Serial device paths for port numbers 0..8 ("ComDevice1".."ComDevice9");
  // empty means /dev/ttyS<n>.
  std::string ComDevice[9];
};

extern CONFIG config;

// Program-wide state set by the shell.
extern int fOnline;  // 1 while a connection is up
