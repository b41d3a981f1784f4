#include "script/logcmds.h"

#include <string>

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/cmdargs.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/scriptname.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/codevram.h"
#include "stock/stock.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"

SCRIPTLOGHOOKS SCRIPTLOG::hooks;

namespace {

// Whether Shift_JIS bytes survive a trip through UTF-8 unchanged.
bool IsSjis(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return jcode::Utf8ToSjis(jcode::SjisToUtf8(s)) == s;
  return true;
}

}  // namespace

bool SCRIPTLOG::Handles(uint8_t a) {
  switch (a) {
    case atom::LOG:
    case atom::WRITELOG:
    case atom::WRITEBUFFER:
    case atom::WRITEBUFFER2:
    case atom::READBUFFER:
    case atom::SAVEBUFFER:
    case atom::CLEARBUFFER: return true;
    default: return false;
  }
}

bool SCRIPTLOG::Run(uint8_t a) {
  switch (a) {
    case atom::LOG: return Log();
    case atom::WRITEBUFFER:
    case atom::WRITEBUFFER2: return WriteBuffer(a);
    default: break;
  }
  SCRIPTARGS args(a);
  switch (a) {
    case atom::WRITELOG: {
      std::string text;
      if (!args.Text(text) || !args.End()) return false;
      if (LOG::IsRunning()) LOG::Put(text.data(), text.size());
      return true;
    }
    case atom::READBUFFER: {
      int32_t n;
      std::string var;
      if (!args.Number(n) || !args.Comma() || !args.Variable(var) || !args.End()) return false;
      std::string line;
      if (STOCK::fValid) {
        CODEVRAM cv = cvNewest;
        int32_t up = n < 0 ? 0 : n;
        while (up > 0 && !cv.IsOldest()) {
          --cv;
          --up;
        }
        // Above the oldest line there is nothing.
        if (up == 0) line.assign(cv.Item()->Text(), static_cast<size_t>(cv.Length()));
      }
      return SCRIPTARGS::Assign(var, line);
    }
    case atom::SAVEBUFFER:
    case atom::CLEARBUFFER: return args.End();
    default: return true;
  }
}

bool SCRIPTLOG::Log() {
  SCRIPTARGS a(atom::LOG);
  if (a.AtEnd()) {
    LOG::End();
    return true;
  }
  std::string word;
  if (a.Word(word)) {
    // OFF, PAUSE or RESUME, alone.
    if (!a.End()) return false;
    if (word == "OFF")
      LOG::End();
    else if (word == "PAUSE")
      LOG::fPause = 1;
    else if (word == "RESUME")
      LOG::fPause = 0;
    else
      return a.Fail();
    return true;
  }
  std::string name;
  if (!a.Text(name)) return false;
  int mode = LOGOPEN_APPEND;
  int textLog = hostprop.RemoveCtrls ? 1 : 0;
  int limit = LOG::kNoLimit;
  while (!a.AtEnd()) {
    if (!a.Comma()) return false;
    if (a.Word(word)) {
      if (word == "APPEND") {
        mode = LOGOPEN_APPEND;
      } else if (word == "CREATE") {
        mode = LOGOPEN_OVERWRITE;
      } else if (word == "BACKUP") {
        mode = 2;
      } else if (word.size() == 7 && word.compare(0, 6, "BACKUP") == 0 && word[6] >= '1' && word[6] <= '9') {
        mode = word[6] - '0' + 1;  // BACKUPn keeps n older files
      } else if (word == "CONTROLCODE") {
        textLog = 0;
      } else if (word == "NOCONTROLCODE") {
        textLog = 1;
      } else {
        return a.Fail();
      }
      continue;
    }
    int32_t n;
    if (!a.Number(n)) return false;
    if (n < 1 || n > LOG::kNoLimit) return a.Fail();
    limit = n;
  }
  // A name Shift_JIS cannot hold names no file here.
  const std::string path = IsSjis(name) ? ScriptNameToPath(name) : std::string();
  if (path.empty() || !LOG::Start(path.c_str(), mode, limit, textLog)) {
    SCRIPTARGS::RuntimeError(scriptmsg::LOG_FAILED);
    return false;
  }
  return true;
}

bool SCRIPTLOG::WriteBuffer(uint8_t a) {
  SCRIPTARGS args(a);
  std::string text;
  if (!args.Text(text) || !args.End()) return false;
  if (a == atom::WRITEBUFFER && LOG::IsRunning()) LOG::Put(text.data(), text.size());
  if (!STOCK::fValid || text.empty()) return true;
  // Off line the stock is read-shared: it is made writable first, and when
  // another program holds it nothing is written.
  if (!fOnline && !STOCK::fWriteEnabled && !STOCK::EnableWrite(1, 0)) return true;
  MYBITMAP* screen = pBitmapCur;
  if (screen->fScrollView && !screen->fView) {
    if (hooks.leaveBackScroll)
      hooks.leaveBackScroll();
    else
      screen->LeaveScrollMode();
  }
  if (screen->painter.caret) screen->painter.caret(false);
  screen->Input(text.data(), text.size());
  screen->Show();
  if (screen->painter.caret) screen->painter.caret(true);
  return true;
}
