#include "terminal/mybitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/jcode.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "terminal/collate.h"

MYBITMAP bitmap;
MYBITMAP* pBitmapCur = &bitmap;
int fInQueueMax = 0;

CODEVRAM MYBITMAP::cvCur;
int MYBITMAP::xchCur = 0;
CODEVRAM MYBITMAP::cvCurSave;
int MYBITMAP::xchCurSave = 0;
CODEVRAM MYBITMAP::cvScrollableTop, MYBITMAP::cvScrollableBottom;
int MYBITMAP::cLineScrollable = 0;
int MYBITMAP::escState = 0;
char MYBITMAP::chIntroducer = '[';
int MYBITMAP::fAttrHilight = 0, MYBITMAP::fAttrUnderline = 0, MYBITMAP::fAttrReverse = 0;
int MYBITMAP::iScrollTop = 0, MYBITMAP::iScrollBottom = MYBITMAP::kNoRegion;
int MYBITMAP::iSavedRow = 0, MYBITMAP::xSavedCol = 0;
int MYBITMAP::fSavedHilight = 0, MYBITMAP::fSavedUnderline = 0, MYBITMAP::fSavedReverse = 0;
CODEVRAM MYBITMAP::cvUpdateTop = -1, MYBITMAP::cvUpdateBottom = -1;
int MYBITMAP::xUpdateLeft = 0, MYBITMAP::xUpdateRight = 0;
int MYBITMAP::cNewLines = 0;
int MYBITMAP::fLineEndNotify = 1;
int MYBITMAP::fInputDuringScroll = 0;
int MYBITMAP::fLettingEventsRun = 0;
char MYBITMAP::szParam[MYBITMAP::kParamBytes + 2] = ";";
int MYBITMAP::cParam = 0;
const char* MYBITMAP::pParam = MYBITMAP::szParam;
SCREENHOOKS MYBITMAP::hooks;
int MYBITMAP::inputLineHidden = 0;

namespace {

constexpr unsigned char CR = 13, LF = 10, BS = 8, TAB = 9, ESC = 27, BEL = 7, FF = 12;

// A slot that holds a line now: inside the ring between oldest and newest.
bool Live(CODEVRAM cv) {
  if (cv.i < 0 || cv.i >= STOCK::cItemUsed) return false;
  return STOCK::Flat(cv) <= STOCK::Flat(cvNewest);
}

bool AnyAttribute() { return MYBITMAP::fAttrHilight || MYBITMAP::fAttrUnderline || MYBITMAP::fAttrReverse; }

// Makes a line blank: every text byte 0, an ordinary line's mark.
void Blank(CODEVRAM cv) {
  STOCKITEM* item = cv.Item();
  item->cInput = STOCK_MARK_NONE;
  std::memset(item->Text(), 0, size_t(STOCK::cColumn));
}

// Copies a line's mark and text over another line.  The copy goes through a
// buffer: two lines of the read cache cannot be held at once.
void CopyLine(CODEVRAM from, CODEVRAM to) {
  static std::vector<unsigned char> buffer;
  const size_t size = size_t(STOCK::sizeSTOCKITEM);
  buffer.resize(size);
  std::memcpy(buffer.data(), from.Item(), size);
  std::memcpy(to.Item(), buffer.data(), size);
}

}  // namespace

CODEVRAM FirstLineOfLogicalLine(CODEVRAM cv, int* lines) {
  int n = 1;
  while (n < kLogicalLineWalk && !cv.IsOldest()) {
    CODEVRAM prev = cv;
    --prev;
    if (prev.IsCR()) break;
    cv = prev;
    ++n;
  }
  if (lines) *lines = n;
  return cv;
}

// ---------------------------------------------------------------------------
// Screens

std::vector<MYBITMAP*>& MYBITMAP::Screens() {
  static std::vector<MYBITMAP*> screens;
  return screens;
}

MYBITMAP::MYBITMAP() { Screens().push_back(this); }

MYBITMAP::~MYBITMAP() {
  auto& s = Screens();
  s.erase(std::remove(s.begin(), s.end(), this), s.end());
  if (pBitmapCur == this) pBitmapCur = &bitmap;
}

// The stock is about to put its newest line into the oldest line's slot:
// every cursor standing on that line moves to the line after it.
void MYBITMAP::OnOldestOverwritten(int slot) {
  const CODEVRAM next = STOCK::AddIndex(slot, 1);
  auto move = [&](CODEVRAM& cv) {
    if (cv.i == slot) cv = next;
  };
  move(cvCur);
  move(cvCurSave);
  move(cvScrollableTop);
  move(cvScrollableBottom);
  if (cvUpdateTop.i != -1) {
    move(cvUpdateTop);
    move(cvUpdateBottom);
  }
  for (MYBITMAP* s : Screens()) move(s->cvTop);
}

// The cursors may be stale after the stock was replaced or cleared under the
// screen; they are put back at the newest line rather than used.
bool MYBITMAP::CursorsLive() {
  if (!STOCK::fValid) return false;
  if (!Live(cvCur) || !Live(cvTop) || STOCK::Flat(cvCur) < STOCK::Flat(cvTop)) {
    cvCur = cvNewest;
    cvTop = STOCK::AddIndex(cvNewest, -(cyLines - 1));
    xchCur = 0;
    ClearUpdateArea();
    cNewLines = 0;
  }
  if (cvUpdateTop.i != -1 && (!Live(cvUpdateTop) || !Live(cvUpdateBottom))) ClearUpdateArea();
  if (xchCur > STOCK::cColumn) xchCur = STOCK::cColumn;
  return true;
}

int MYBITMAP::RowsInStock() const { return std::min(cyLines, Row(cvNewest) + 1); }

void MYBITMAP::HideInputLine() {
  if (inputLineHidden++ == 0 && hooks.hideInputLine) hooks.hideInputLine();
}

void MYBITMAP::ShowInputLine() {
  if (--inputLineHidden == 0 && hooks.showInputLine) hooks.showInputLine();
}

// ---------------------------------------------------------------------------
// Received text

void MYBITMAP::Input(char c) {
  if (CursorsLive()) InputByte(static_cast<unsigned char>(c));
}

// Input(char) once the cursors are known to be live.
void MYBITMAP::InputByte(unsigned char c) {
  const char ch = static_cast<char>(c);
  fInputDuringScroll = 1;

  if (escState == 2) {
    HideInputLine();
    if (ProcessEscape(ch)) escState = 0;
    ShowInputLine();
    return;
  }
  if (escState == 1) {
    if (c == '[' || c == '(') {
      chIntroducer = ch;
      cParam = 0;
      szParam[0] = ';';
      szParam[1] = 0;
      escState = 2;
      return;
    }
    escState = 0;
    switch (c) {
      case 'D':
        Index(false);
        break;
      case 'E':
        Index(true);
        break;
      case 'M':
        ReverseIndex();
        break;
      case '7':
        fSavedHilight = fAttrHilight;
        fSavedUnderline = fAttrUnderline;
        fSavedReverse = fAttrReverse;
        xSavedCol = xchCur;
        iSavedRow = Row(cvCur);
        break;
      case '8': {
        fAttrHilight = fSavedHilight;
        fAttrUnderline = fSavedUnderline;
        fAttrReverse = fSavedReverse;
        xchCur = std::clamp(xSavedCol, 0, STOCK::cColumn);
        const int row = std::clamp(iSavedRow, 0, cyLines - 1);
        if (row > Row(cvNewest)) FillScreenCodeVram();
        cvCur = LineAt(row);
        break;
      }
      default:  // neither ESC nor this byte is shown
        break;
    }
    return;
  }

  // Deferred wrap: with VT100 cursor keys a character in the last column
  // leaves the cursor past the line end until the next byte needs a cell.
  if (xchCur >= STOCK::cColumn && hostprop.CursorCode == 2 && c != CR && c != ESC && c != FF) Orikaeshi();

  HideInputLine();
  switch (c) {
    case CR:
      xchCur = 0;
      if (fLineEndNotify && (hooks.collate || COLLATE::Waiting())) {
        int lines = 0;
        const CODEVRAM first = FirstLineOfLogicalLine(cvCur, &lines);
        if (hooks.collate)
          hooks.collate(first, lines);
        else
          COLLATE::Collate(first, lines);
      }
      break;
    case LF:
      LineFeed();
      break;
    case BS:
      if (xchCur > 0) --xchCur;
      break;
    case TAB: {
      char* t = cvCur.Item()->Text();
      const int to = std::min((xchCur / 8 + 1) * 8, STOCK::cColumn);
      if (to > xchCur) {
        for (int x = xchCur; x < to; ++x)
          if (t[x] == 0) t[x] = ' ';
        AddUpdateChar(cvCur, xchCur, to - xchCur);
        xchCur = to;
      }
      break;
    }
    case ESC:
      Show();
      escState = 1;
      break;
    case BEL:
      if (hooks.bell) hooks.bell();
      break;
    case FF:
      Show();
      ClearScreen();
      cvCur = cvTop;
      xchCur = 0;
      break;
    default:
      if (c < 0x20) break;  // other control bytes are not shown
      // Only a column restored by ESC 8 can stand past the end here.
      if (xchCur >= STOCK::cColumn) Orikaeshi();
      PutChar(c);
      break;
  }
  // Immediate wrap.
  if (xchCur >= STOCK::cColumn && hostprop.CursorCode != 2) Orikaeshi();
  ShowInputLine();
}

void MYBITMAP::Input(const char* s) { Input(s, std::strlen(s)); }

void MYBITMAP::Input(const char* s, size_t n) {
  if (!CursorsLive()) return;
  HideInputLine();
  size_t i = 0;
  while (i < n) {
    const int room = STOCK::cColumn - xchCur;
    if (escState == 0 && room > 0 && static_cast<unsigned char>(s[i]) >= 0x20) {
      const int run = int(PrintableRun(s + i, std::min(size_t(room), n - i)));
      InputStrSub(s + i, run);
      i += size_t(run);
    } else {
      InputByte(static_cast<unsigned char>(s[i++]));
    }
  }
  ShowInputLine();
}

void MYBITMAP::InputAndShow(const char* s) {
  Input(s);
  Show();
}

void MYBITMAP::InputDateTime() {
  SYSTEMTIME st;
  if (hooks.now) {
    st = hooks.now();
  } else {
    const time_t t = time(nullptr);
    struct tm tmv {};
    localtime_r(&t, &tmv);
    st.wYear = tmv.tm_year + 1900;
    st.wMonth = tmv.tm_mon + 1;
    st.wDay = tmv.tm_mday;
    st.wHour = tmv.tm_hour;
    st.wMinute = tmv.tm_min;
  }
  char text[64];
  std::snprintf(text, sizeof text, " - %04d/%02d/%02d %02d:%02d\r\n", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute);
  Input(text);
}

// n printable bytes at the cursor, inside the line: blanks the empty cells
// left of the cursor, writes the bytes, and drops the line's input mark.
void MYBITMAP::WriteCells(const char* s, int n) {
  STOCKITEM* item = cvCur.Item();
  char* t = item->Text();
  if (xchCur > 0 && t[xchCur - 1] == 0) {
    int x = xchCur - 1;
    while (x > 0 && t[x - 1] == 0) --x;
    std::memset(t + x, ' ', size_t(xchCur - x));
    AddUpdateChar(cvCur, x, xchCur - x);
  }
  std::memcpy(t + xchCur, s, size_t(n));
  AddUpdateChar(cvCur, xchCur, n);
  xchCur += n;
  if (item->cInput < STOCK_MARK_CONNECT) {
    item->cInput = STOCK_MARK_NONE;
    AddUpdateChar(cvCur, 0, STOCK::cColumn);
  }
}

// One printable byte at the cursor (the cursor is inside the line).
void MYBITMAP::PutChar(unsigned char c) {
  const char b = static_cast<char>(c);
  WriteCells(&b, 1);
}

// n printable bytes that fit before the line end, in one step; the same as
// n calls of Input(char).
void MYBITMAP::InputStrSub(const char* s, int n) {
  fInputDuringScroll = 1;
  WriteCells(s, n);
  if (xchCur >= STOCK::cColumn && hostprop.CursorCode != 2) Orikaeshi();
}

// Wrap at the line end.  A lead byte in the last cell moves to the next line
// with its character and leaves 0x7F, so the line still reads as filled.
void MYBITMAP::Orikaeshi() {
  const CODEVRAM line = cvCur;
  const int last = STOCK::cColumn - 1;
  if (line.IsKanji2(STOCK::cColumn)) {
    char* t = line.Item()->Text();
    const char kept = t[last];
    t[last] = 0x7F;
    AddUpdateChar(line, last, 1);
    NotifyLineToAddins(line, last, false);
    fLineEndNotify = 0;
    InputByte(CR);
    InputByte(LF);
    InputByte(static_cast<unsigned char>(kept));
  } else {
    NotifyLineToAddins(line, STOCK::cColumn, false);
    fLineEndNotify = 0;
    InputByte(CR);
    InputByte(LF);
  }
  fLineEndNotify = 1;
}

void MYBITMAP::NotifyLineToAddins(CODEVRAM line, int length, bool crlf) {
  if (!hooks.lineToAddins) return;
  const char* text = line.Item()->Text();
  if (length < 0) length = StockTextLength(text, STOCK::cColumn);
  hooks.lineToAddins(text, length, crlf);
}

void MYBITMAP::LineFeed() {
  const int columns = STOCK::cColumn;
  // (a) A finished line the colour syntax has not seen yet.
  if (fLineEndNotify && !config.NoColorOnline && cvCur.Tag() == TAG_NONE) {
    if (hooks.newLine) hooks.newLine();
    int lines = 0;
    const CODEVRAM first = hooks.classify ? FirstLineOfLogicalLine(cvCur, &lines) : cvCur;
    if (hooks.classify && hooks.classify(first, lines)) {
      // Repaint the logical line in its new colours, and walk back from its
      // first line over continuation lines to the line that carries the tag.
      CODEVRAM cv = cvCur;
      for (int k = 0; k < lines; ++k, --cv) AddUpdateChar(cv, 0, columns);
      cv = first;
      for (int k = 0; k < kLogicalLineWalk && cv.Tag() < TAG_QUOTE && !cv.IsOldest(); ++k) {
        AddUpdateChar(cv, 0, columns);
        --cv;
      }
      AddUpdateChar(cv, 0, columns);
      if (hooks.treeAdd) hooks.treeAdd(cv);
    }
  }
  if (Row(cvCur) == iScrollBottom) {
    // (b) The bottom of a scroll region: the region scrolls, the cursor stays.
    Show();
    DeleteLineAt(iScrollTop, 1);
  } else if (!cvCur.IsNewest()) {
    // (c) A line below exists: move onto it.
    Show();
    if (hooks.highlightLine) hooks.highlightLine(cvCur);
    ++cvCur;
    if (Row(cvCur) >= cyLines) ++cNewLines;  // the view follows the cursor
  } else {
    // (d) The newest line: a new line is appended.
    xchCur = 0;
    if (AnyAttribute()) Show();
    if (cvCur.IsOldest() && hooks.selectionActive && hooks.selectionActive() && hooks.endSelection)
      hooks.endSelection();
    const CODEVRAM done = cvCur;
    cvCur.LineFeed();
    ++cNewLines;
    AddUpdateChar(cvCur, 0, columns);
    if (AnyAttribute()) {
      // The new blank line is painted plain.
      const int h = fAttrHilight, u = fAttrUnderline, r = fAttrReverse;
      fAttrHilight = fAttrUnderline = fAttrReverse = 0;
      Show();
      fAttrHilight = h;
      fAttrUnderline = u;
      fAttrReverse = r;
    }
    if (fLineEndNotify) NotifyLineToAddins(done, -1, true);
  }
}

// ESC D (index) and ESC E (next line).
void MYBITMAP::Index(bool toColumnZero) {
  if (toColumnZero) xchCur = 0;
  FillScreenCodeVram();
  const int row = Row(cvCur), last = cyLines - 1;
  if (iScrollBottom == kNoRegion) {
    if (row < last) {
      ++cvCur;
    } else {
      // The bottom row without a region: like a line feed on the newest
      // line, the top line goes into the history.
      if (cvCur.IsNewest()) {
        cvCur.LineFeed();
        AddUpdateChar(cvCur, 0, STOCK::cColumn);
      } else {
        ++cvCur;
      }
      ++cNewLines;
    }
  } else if (row == iScrollBottom) {
    DeleteLineAt(iScrollTop, 1);
  } else if (row < last) {
    ++cvCur;  // inside the region above its bottom, or below the region
  }
}

// ESC M (reverse index).
void MYBITMAP::ReverseIndex() {
  const int row = Row(cvCur);
  if (row == iScrollTop) {
    FillScreenCodeVram();
    InsertLineAt(iScrollTop, 1);
  } else if (row > 0) {
    --cvCur;
  }
}

// ---------------------------------------------------------------------------
// Repaint area and painting

void MYBITMAP::AddUpdateChar(CODEVRAM cv, int x, int n) {
  if (fInQueueMax) return;
  const int e = x + n;
  if (cvUpdateTop.i == -1) {
    cvUpdateTop = cvUpdateBottom = cv;
    xUpdateLeft = x;
    xUpdateRight = e;
    return;
  }
  const int f = STOCK::Flat(cv), top = STOCK::Flat(cvUpdateTop), bottom = STOCK::Flat(cvUpdateBottom);
  if (f == top && f == bottom) {
    xUpdateLeft = std::min(xUpdateLeft, x);
    xUpdateRight = std::max(xUpdateRight, e);
  } else if (f == bottom) {
    xUpdateRight = std::max(xUpdateRight, e);
  } else if (f == top) {
    xUpdateLeft = std::min(xUpdateLeft, x);
  } else if (f > bottom) {
    cvUpdateBottom = cv;
    xUpdateRight = e;
  } else if (f < top) {
    cvUpdateTop = cv;
    xUpdateLeft = x;
  }
}

void MYBITMAP::ClearUpdateArea() {
  cvUpdateTop = cvUpdateBottom = -1;
  xUpdateLeft = xUpdateRight = 0;
}

void MYBITMAP::RefreshText(CODEVRAM cv, int x0, int x1) {
  if (!painter.paint) return;
  const int row = Row(cv);
  if (row < 0 || row >= cyLines || row > Row(cvNewest)) return;
  painter.paint(row, cv, x0, x1);
}

void MYBITMAP::RepaintLine(CODEVRAM cv) { RefreshText(cv, 0, STOCK::cColumn); }

void MYBITMAP::RepaintAll() {
  xScrollShown = xScroll;
  if (painter.repaintAll) painter.repaintAll();
}

void MYBITMAP::CopyRect() { RepaintAll(); }

void MYBITMAP::ExtendScrollable() {
  if (!Live(cvScrollableTop)) cvScrollableTop = cvOldest;
  const int before = cLineScrollable;
  cvScrollableBottom = cvNewest;
  cLineScrollable = STOCK::Flat(cvScrollableBottom) - STOCK::Flat(cvScrollableTop) + 1;
  if (cLineScrollable != before && painter.scrollBarChanged) painter.scrollBarChanged();
}

void MYBITMAP::PaintUpdateArea() {
  if (cvUpdateTop.i == -1 || !painter.paint) return;
  const int top = Row(cvUpdateTop), bottom = Row(cvUpdateBottom);
  const int first = std::max(top, 0), last = std::min({bottom, cyLines - 1, Row(cvNewest)});
  for (int row = first; row <= last; ++row) {
    const CODEVRAM cv = LineAt(row);
    int x0 = 0, x1 = STOCK::cColumn;
    if (cv.Tag() == TAG_NONE) {
      if (row == top) {
        x0 = xUpdateLeft;
        if (x0 > 0 && cv.IsKanji2(x0)) --x0;
      }
      if (row == bottom) x1 = xUpdateRight;
    }
    if (x1 > x0) painter.paint(row, cv, x0, x1);
  }
}

void MYBITMAP::Show() {
  if (!CursorsLive()) return;
  const int backlog = hooks.backlog ? hooks.backlog() : COMPORT::GetInQueueCount();
  const bool resting = hooks.inputResting ? hooks.inputResting() : COMPORT::fInQueueResting.load() != 0;

  // 1.
  if (xchCur < xScroll) xScroll = 0;
  // 2. Fast mode.
  if (!fInQueueMax) {
    if (backlog > 1500 && config.SetScroll) fInQueueMax = 1;
  } else if (backlog < 100) {
    fInQueueMax = 0;
    ExtendScrollable();
    RepaintAll();
  }
  if (fInQueueMax) {
    cvUpdateTop = cvUpdateBottom = cvCur;
    xUpdateLeft = 0;
    xUpdateRight = STOCK::cColumn;
  }
  // 3. A whole screen or more of new lines: jump.
  if (!fInQueueMax && cNewLines >= cyLines) {
    cvTop = STOCK::AddIndex(cvNewest, -std::min(cyLines - 1, STOCK::UsedItems() - 1));
    cNewLines = 0;
    ClearUpdateArea();
    ExtendScrollable();
    RepaintAll();
    return;
  }
  // 4. Never scroll past the newest line.
  cNewLines = std::min(cNewLines, std::max(0, Row(cvNewest) - (cyLines - 1)));
  if (xScroll != xScrollShown) RepaintAll();
  // 5.
  PaintUpdateArea();
  // 6.
  const int added = cNewLines;
  if (added > 0) ScrollNewLines(backlog, resting);
  // 7.
  ExtendScrollable();
  ClearUpdateArea();
  if (added > 0 && !fInQueueMax && hooks.highlightLines) hooks.highlightLines(LineAt(cyLines - added), added);
  cNewLines = 0;
}

void MYBITMAP::ScrollNewLines(int backlog, bool resting) {
  const int n = cNewLines;
  const int columns = STOCK::cColumn;
  auto paintBottom = [&](int count) {
    for (int row = std::max(0, cyLines - count); row < cyLines; ++row) {
      if (row > Row(cvNewest)) break;
      RefreshText(LineAt(row), 0, columns);
    }
  };
  if (fInQueueMax) {
    cvTop = STOCK::AddIndex(cvTop, n);
    paintBottom(1);
    return;
  }
  if (!painter.scroll && !painter.paint && !painter.letEventsRun) {
    cvTop = STOCK::AddIndex(cvTop, n);  // nothing to paint: the same in one step
    return;
  }
  if (config.SetScroll || (backlog >= 1024 && !resting)) {
    cvTop = STOCK::AddIndex(cvTop, n);
    if (painter.scroll) painter.scroll(std::min(n, cyLines) * cyChar);
    paintBottom(n);
    return;
  }
  const bool active = painter.windowActive && painter.windowActive();
  for (int i = 0; i < n; ++i) {
    if (!config.SmoothScroll || !active || (backlog >= 512 && !resting)) {
      cvTop = STOCK::AddIndex(cvTop, 1);
      if (painter.scroll) painter.scroll(cyChar);
      paintBottom(1);
      if (painter.letEventsRun) {
        fLettingEventsRun = 1;
        painter.letEventsRun();
        fLettingEventsRun = 0;
        YieldProcessor();
      }
      continue;
    }
    // Smooth: the line moves up in steps, the new bottom line drawn below
    // its place and rising into it.
    const TICK start = hooks.tick ? hooks.tick() : GetTick();
    const int height = std::max(1, cyChar);
    int steps = std::clamp(config.SmoothCount, 1, height);
    if (backlog >= 256 && !resting) steps = (steps + 1) / 2;
    cvTop = STOCK::AddIndex(cvTop, 1);
    int moved = 0;
    for (int s = 1; s <= steps; ++s) {
      const int to = height * s / steps;
      if (painter.scroll) painter.scroll(to - moved);
      moved = to;
      if (painter.setOrigin) painter.setOrigin(height - moved);
      paintBottom(1);
    }
    if (config.AutoSmooth && backlog == 0) {
      const TICK took = (hooks.tick ? hooks.tick() : GetTick()) - start;
      if (took < 15)
        config.SmoothCount = std::min(config.SmoothCount + 1, height);
      else
        config.SmoothCount = std::max(config.SmoothCount - 1, 1);
    }
  }
}

// ---------------------------------------------------------------------------
// Size and placement

void MYBITMAP::SetFont(int cxCharPixels, int cyCharPixels) {
  cxChar = std::max(1, cxCharPixels);
  cyChar = std::max(1, cyCharPixels);
  cyPixels = cyLines * cyChar;
}

void MYBITMAP::Start(void* hwnd, int columns, int lines) {
  fView = 1;
  if (STOCK::fValid && Live(cvTop)) cvTop = STOCK::AddIndex(cvTop, -(std::max(1, lines) - 1));
  cvScrollableTop = cvOldest;
  cvScrollableBottom = cvNewest;
  cLineScrollable = STOCK::UsedItems();
  Reset(hwnd, columns, lines);
  EnterScrollMode();
}

void MYBITMAP::Reset(void* hwnd, int columns, int lines) {
  hwndPaint = hwnd;
  cxChars = std::max(1, columns);
  cyLines = std::max(1, lines);
  cyPixels = cyLines * cyChar;
  if (STOCK::fValid) {
    STOCK::hooks.oldestOverwritten = &MYBITMAP::OnOldestOverwritten;
    if (this == &bitmap && STOCK::cLineFrame != cyLines) {
      STOCK::cLineFrame = cyLines;
      STOCK::FrameSizeChanged();
    }
    if (!fView && !fScrollView) {
      cvCur = cvNewest;
      cvTop = STOCK::AddIndex(cvNewest, -(cyLines - 1));
      xchCur = std::min(xchCur, STOCK::cColumn);
      xScroll = xchCur >= cxChars ? xchCur - cxChars + 1 : 0;
    } else if (!Live(cvTop)) {
      cvTop = cvOldest;
    }
    if (cLineScrollable == 0 || !Live(cvScrollableTop)) cvScrollableTop = cvOldest;
    if (STOCK::Flat(cvTop) < STOCK::Flat(cvScrollableTop)) cvTop = cvScrollableTop;
    ExtendScrollable();
  }
  if (!fView) {
    // The receiving terminal's state; a view screen leaves it to the live one.
    ClearUpdateArea();
    cNewLines = 0;
    fAttrHilight = fAttrUnderline = fAttrReverse = 0;
    iScrollTop = 0;
    iScrollBottom = kNoRegion;
  }
  if (painter.scrollBarChanged) painter.scrollBarChanged();
  RepaintAll();
}

void MYBITMAP::Resize(int widthPixels, int heightPixels) {
  rcClient = {0, 0, std::max(0, widthPixels), std::max(0, heightPixels)};
  const int columns = std::max(1, rcClient.right / cxChar);
  const int lines = std::max(1, rcClient.bottom / cyChar);
  fOddWidth = rcClient.right != columns * cxChar ? 1 : 0;
  Reset(hwndPaint, columns, lines);
}

void MYBITMAP::FillScreenCodeVram() {
  if (!STOCK::fValid) return;
  // Bounded: a ring smaller than the screen overwrites its own oldest lines.
  for (int k = 0; k < cyLines && Row(cvNewest) < cyLines - 1; ++k) {
    CODEVRAM cv = cvNewest;
    cv.LineFeed();
  }
}

// ---------------------------------------------------------------------------
// Erase and edit

void MYBITMAP::ClearScreen() {
  if (!CursorsLive()) return;
  fAttrHilight = fAttrUnderline = fAttrReverse = 0;
  // The separator and a screen of blank lines follow the newest line (which
  // is the screen's last line, or above it when the screen is not full), so
  // every line of the old screen stays in the history.
  CODEVRAM separator = cvNewest;
  separator.LineFeed();
  STOCKITEM* item = separator.Item();
  item->cInput = STOCK_MARK_NONE;
  std::memset(item->Text(), '-', size_t(STOCK::cColumn));
  for (int k = 0; k < cyLines; ++k) {
    CODEVRAM cv = cvNewest;
    cv.LineFeed();
  }
  cvTop = STOCK::AddIndex(separator, 1);
  cvCur = cvTop;
  xchCur = 0;
  xScroll = 0;
  cNewLines = 0;
  ClearUpdateArea();
  ExtendScrollable();
  RepaintAll();
}

void MYBITMAP::ClearCursorEnd() {
  STOCKITEM* item = cvCur.Item();
  item->cInput = STOCK_MARK_NONE;
  if (xchCur < STOCK::cColumn) std::memset(item->Text() + xchCur, 0, size_t(STOCK::cColumn - xchCur));
  RepaintLine(cvCur);
}

void MYBITMAP::ClearCursorTop() {
  STOCKITEM* item = cvCur.Item();
  item->cInput = STOCK_MARK_NONE;
  std::memset(item->Text(), ' ', size_t(std::min(xchCur, STOCK::cColumn)));
  RepaintLine(cvCur);
}

void MYBITMAP::ClearCursorLine() {
  Blank(cvCur);
  ClearCursorTop();
}

void MYBITMAP::ClearAfterCursor() {
  ClearCursorEnd();
  const int last = RowsInStock() - 1;
  for (int row = Row(cvCur) + 1; row <= last; ++row) {
    const CODEVRAM cv = LineAt(row);
    Blank(cv);
    RepaintLine(cv);
  }
}

void MYBITMAP::ClearBeforeCursor() {
  const int row = std::min(Row(cvCur), cyLines);
  for (int r = 0; r < row; ++r) {
    const CODEVRAM cv = LineAt(r);
    Blank(cv);
    RepaintLine(cv);
  }
  ClearCursorTop();
}

void MYBITMAP::InsertSpace(int n) {
  n = std::min(n, STOCK::cColumn - xchCur);
  if (n <= 0) return;
  STOCKITEM* item = cvCur.Item();
  char* t = item->Text();
  item->cInput = STOCK_MARK_NONE;
  std::memmove(t + xchCur + n, t + xchCur, size_t(STOCK::cColumn - xchCur - n));
  std::memset(t + xchCur, ' ', size_t(n));
  RepaintLine(cvCur);
}

void MYBITMAP::DeleteChar(int n) {
  n = std::min(n, STOCK::cColumn - xchCur);
  if (n <= 0) return;
  STOCKITEM* item = cvCur.Item();
  char* t = item->Text();
  item->cInput = STOCK_MARK_NONE;
  std::memmove(t + xchCur, t + xchCur + n, size_t(STOCK::cColumn - xchCur - n));
  std::memset(t + STOCK::cColumn - n, 0, size_t(n));
  RepaintLine(cvCur);
}

int MYBITMAP::RegionBottomFor(int row) const {
  // Only rows the stock holds are moved: a row past the newest line is blank
  // and stays so.
  const int bottom = std::min({iScrollBottom, cyLines - 1, Row(cvNewest)});
  if (row < 0 || row < iScrollTop || row > bottom) return -1;
  return bottom;
}

void MYBITMAP::InsertLine(int n) { InsertLineAt(Row(cvCur), n); }

void MYBITMAP::DeleteLine(int n) { DeleteLineAt(Row(cvCur), n); }

void MYBITMAP::InsertLineAt(int row, int n) {
  const int bottom = RegionBottomFor(row);
  if (bottom < 0 || n <= 0) return;
  n = std::min(n, bottom - row + 1);
  for (int r = bottom; r >= row + n; --r) CopyLine(LineAt(r - n), LineAt(r));
  for (int r = row; r < row + n; ++r) Blank(LineAt(r));
  if (painter.scrollRows) painter.scrollRows(row, bottom, n);
  for (int r = row; r < row + n; ++r) RepaintLine(LineAt(r));
}

void MYBITMAP::DeleteLineAt(int row, int n) {
  const int bottom = RegionBottomFor(row);
  if (bottom < 0 || n <= 0) return;
  n = std::min(n, bottom - row + 1);
  for (int r = row; r + n <= bottom; ++r) CopyLine(LineAt(r + n), LineAt(r));
  for (int r = bottom - n + 1; r <= bottom; ++r) Blank(LineAt(r));
  if (painter.scrollRows) painter.scrollRows(row, bottom, -n);
  for (int r = bottom - n + 1; r <= bottom; ++r) RepaintLine(LineAt(r));
}

// ---------------------------------------------------------------------------
// Back-scroll mode

void MYBITMAP::EnterScrollMode() {
  if (hooks.clearReceivedMark) hooks.clearReceivedMark();
  fVScrollable = STOCK::UsedItems() > cyLines ? 1 : 0;
  fHScrollable = STOCK::cColumn > cxChars ? 1 : 0;
  fScrollView = 1;
  fInputDuringScroll = 0;
  cvCurSave = cvCur;
  xchCurSave = xchCur;
  if (painter.caret) painter.caret(false);
}

void MYBITMAP::LeaveScrollMode() {
  if (hooks.removeSearchMark) hooks.removeSearchMark();
  fScrollView = 0;
  if (hooks.selectionActive && hooks.selectionActive() && hooks.endSelection) hooks.endSelection();
  if (!fInputDuringScroll) {
    cvCur = cvCurSave;
    xchCur = xchCurSave;
  }
  if (painter.caret && hooks.hasFocus && hooks.hasFocus()) painter.caret(true);
}

// ---------------------------------------------------------------------------

void MYBITMAP::ResetForTest() {
  cvCur = cvCurSave = 0;
  xchCur = xchCurSave = 0;
  cvScrollableTop = cvScrollableBottom = 0;
  cLineScrollable = 0;
  escState = 0;
  chIntroducer = '[';
  fAttrHilight = fAttrUnderline = fAttrReverse = 0;
  iScrollTop = 0;
  iScrollBottom = kNoRegion;
  iSavedRow = xSavedCol = fSavedHilight = fSavedUnderline = fSavedReverse = 0;
  ClearUpdateArea();
  cNewLines = 0;
  fLineEndNotify = 1;
  fInputDuringScroll = 0;
  fLettingEventsRun = 0;
  std::memset(szParam, 0, sizeof szParam);
  szParam[0] = ';';
  cParam = 0;
  pParam = szParam;
  hooks = SCREENHOOKS();
  inputLineHidden = 0;
  fInQueueMax = 0;
  for (MYBITMAP* s : Screens()) {
    s->hwndPaint = nullptr;
    s->cxChar = 8;
    s->cyChar = 16;
    s->cyPixels = 0;
    s->fView = s->fScrollView = s->fOddWidth = s->fVScrollable = s->fHScrollable = 0;
    s->cxChars = 80;
    s->xScroll = s->xScrollShown = 0;
    s->cvTop = 0;
    s->cyLines = 24;
    s->rcClient = {};
    s->painter = SCREENPAINTER();
  }
  pBitmapCur = &bitmap;
}
