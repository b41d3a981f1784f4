#include "support/program_state.h"

#include "port/comport.h"
#include "port/tapisub.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/registry.h"
#include "stock/stock.h"
#include "terminal/collate.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"

void ResetProgramForTest() {
  TAPISUB::ResetForTest();
  CLIENT::ResetForTest();
  COMPORT::ResetForTest();
  TELNET::ResetForTest();
  LOG::ResetForTest();
  STOCK::ResetForTest();
  MYBITMAP::ResetForTest();
  COLLATE::ResetForTest();
  REGISTRY::ResetForTest();
  HOSTINI::ResetForTest();
  ResetOnlineForTest();
  hostprop.SetDefault();
  config.SetDefault();
}
