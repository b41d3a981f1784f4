#include "shell/config.h"

CONFIG config;
int fOnline = 0;

void CONFIG::SetDefault() {
  CheckCommError = 1;
  CdCheck = 0;
  NoiseMixing = 0;
  for (auto& d : ComDevice) d.clear();
}
