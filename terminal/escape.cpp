// MYBITMAP::ProcessEscape: the control sequences after ESC "[" (and the byte
// swallowed after ESC "("), as a table keyed by the final byte.
//
// Grammar of what Input hands over once ESC "[" was seen:
//   parameter bytes  "0"-"9" ";" "?"   at most 38; the 39th ends the sequence
//                                      and everything stored is dropped
//   final byte       any other byte    looked up in kEscapeTable; a final not
//                                      in the table is ignored
// A sequence whose first parameter byte is "?" (ESC [ ? 25 l) is consumed
// without effect.  Parameter values saturate at 9999, and every count is
// clamped to what the screen allows, so no sequence can reach outside the
// screen's lines.
#include <algorithm>
#include <array>
#include <cstdio>

#include "port/comport.h"
#include "stock/stock.h"
#include "terminal/mybitmap.h"

namespace {

constexpr int kParamMax = 9999;

bool IsParamByte(unsigned char c) { return (c >= '0' && c <= '9') || c == ';' || c == '?'; }

}  // namespace

struct EscapeActions {
  // The next parameter: when the read pointer stands on ";", the decimal
  // value of the digits after it (0 when there are none); otherwise -1.  So
  // an absent first parameter reads 0 and an absent later one -1.
  static int GetParam() {
    const char*& p = MYBITMAP::pParam;
    if (*p != ';') return -1;
    ++p;
    int value = 0;
    while (*p >= '0' && *p <= '9') {
      value = std::min(value * 10 + (*p - '0'), kParamMax);
      ++p;
    }
    return value;
  }

  // "pad": empty cells up to the cursor become spaces when the line's text
  // is shorter than the cursor column.
  static void Pad(MYBITMAP& s) {
    const CODEVRAM cv = MYBITMAP::cvCur;
    const int x = std::min(MYBITMAP::xchCur, STOCK::cColumn);
    if (cv.Length() >= x) return;
    char* t = cv.Item()->Text();
    for (int i = 0; i < x; ++i)
      if (t[i] == 0) t[i] = ' ';
    (void)s;
    MYBITMAP::AddUpdateChar(cv, 0, x);
  }

  // After a cursor position: the view's horizontal offset follows the column.
  static void Follow(MYBITMAP& s) {
    if (MYBITMAP::xchCur >= s.cxChars) {
      s.xScroll = MYBITMAP::xchCur - s.cxChars + 1;
      s.RepaintAll();
    } else if (s.xScroll != 0) {
      s.xScroll = 0;
      s.RepaintAll();
    }
  }

  static void Reply(const char* text) { COMPORT::Send(text); }

  // A final from the cursor-moving and editing set first scrolls the connect
  // line, and everything above it, off the screen.
  static void ProtectConnectLine(MYBITMAP& s) {
    const int row = std::min(s.Row(MYBITMAP::cvCur), s.cyLines - 1);
    for (int r = row; r >= 0; --r) {
      if (s.LineAt(r).Tag() == TAG_CONNECT) {
        s.ScrollUpForced(r + 1);
        return;
      }
    }
  }

  // ---- the actions ----

  static void CursorUp(MYBITMAP& s) {
    const int n = std::min(std::max(1, GetParam()), s.Row(MYBITMAP::cvCur));
    if (n > 0) MYBITMAP::cvCur = STOCK::AddIndex(MYBITMAP::cvCur, -n);
    Pad(s);
  }

  static void CursorDown(MYBITMAP& s) {
    s.FillScreenCodeVram();
    const int n = std::min(std::max(1, GetParam()), s.cyLines - 1 - s.Row(MYBITMAP::cvCur));
    if (n > 0) MYBITMAP::cvCur = STOCK::AddIndex(MYBITMAP::cvCur, n);
    Pad(s);
  }

  static void CursorRight(MYBITMAP& s) {
    int n = std::max(1, GetParam());
    if (n >= STOCK::cColumn) n = STOCK::cColumn - 1;
    const int column = std::min(MYBITMAP::xchCur + n, STOCK::cColumn - 1);
    if (column >= s.cxChars) {
      s.xScroll = column - s.cxChars + 1;
      s.RepaintAll();
    }
    MYBITMAP::xchCur = column;
    Pad(s);
  }

  static void CursorLeft(MYBITMAP& s) {
    const int n = std::clamp(GetParam(), 1, std::max(1, STOCK::cColumn - 1));
    MYBITMAP::xchCur = std::max(0, MYBITMAP::xchCur - n);
    if (MYBITMAP::xchCur < s.cxChars && s.xScroll != 0) {
      s.xScroll = 0;
      s.RepaintAll();
    }
  }

  static void CursorPosition(MYBITMAP& s) {
    s.FillScreenCodeVram();
    const int line = std::clamp(GetParam(), 1, s.cyLines);
    const int column = std::clamp(GetParam(), 1, STOCK::cColumn) - 1;
    MYBITMAP::cvCur = s.LineAt(line - 1);
    MYBITMAP::xchCur = column;
    Follow(s);
  }

  static void EraseDisplay(MYBITMAP& s) {
    switch (GetParam()) {
      case 1:
        s.ClearBeforeCursor();
        break;
      case 2:
        s.FillScreenCodeVram();
        s.ClearScreen();
        break;
      default:
        s.ClearAfterCursor();
        break;
    }
  }

  static void EraseLine(MYBITMAP& s) {
    switch (GetParam()) {
      case 1:
        s.ClearCursorTop();
        break;
      case 2:
        s.ClearCursorLine();
        break;
      default:
        s.ClearCursorEnd();
        break;
    }
  }

  static void InsertLines(MYBITMAP& s) {
    s.FillScreenCodeVram();
    const int n = GetParam();
    s.InsertLine(n == 0 ? 1 : n);
  }

  static void DeleteLines(MYBITMAP& s) {
    s.FillScreenCodeVram();
    const int n = GetParam();
    s.DeleteLine(n == 0 ? 1 : n);
  }

  static void DeleteChars(MYBITMAP& s) {
    const int n = GetParam();
    s.DeleteChar(n == 0 ? 1 : n);
  }

  static void InsertSpaces(MYBITMAP& s) {
    const int n = GetParam();
    s.InsertSpace(n < 1 ? 0 : n);
  }

  static void Attributes(MYBITMAP&) {
    int p = std::max(0, GetParam());
    do {
      switch (p) {
        case 4:
          MYBITMAP::fAttrUnderline = 1;
          break;
        case 7:
          MYBITMAP::fAttrReverse = 1;
          break;
        case 1:
        case 2:
        case 3:
        case 5:
        case 6:
          MYBITMAP::fAttrHilight = 1;
          break;
        default:
          MYBITMAP::fAttrHilight = MYBITMAP::fAttrUnderline = MYBITMAP::fAttrReverse = 0;
          break;
      }
      p = GetParam();
    } while (p >= 0);
  }

  // The region is clamped to the screen; one whose top is not above its
  // bottom is ignored; the whole screen means no region.
  static void ScrollRegion(MYBITMAP& s) {
    const int top = std::min(std::max(1, GetParam()) - 1, s.cyLines - 1);
    const int p2 = GetParam();
    const int bottom = std::min((p2 < 1 ? 1000 : p2) - 1, s.cyLines - 1);
    if (top >= bottom) return;
    MYBITMAP::iScrollTop = top;
    MYBITMAP::iScrollBottom = top == 0 && bottom == s.cyLines - 1 ? MYBITMAP::kNoRegion : bottom;
  }

  static void DeviceStatus(MYBITMAP& s) {
    switch (GetParam()) {
      case 6: {
        char text[40];
        std::snprintf(text, sizeof text, "\x1b[%d;%dR", s.Row(MYBITMAP::cvCur) + 1, MYBITMAP::xchCur + 1);
        Reply(text);
        break;
      }
      case 5:
        Reply("\x1b[0n");
        break;
      case 0:
        Reply("\x1b[?63c");
        break;
      default:
        break;
    }
  }

  static void DeviceAttributes(MYBITMAP&) { Reply("\x1b[?1;2c"); }
};

namespace {

struct ESCAPEACTION {
  unsigned char final;
  bool protectConnectLine;  // scroll the connect line off the screen first
  void (*act)(MYBITMAP&);
};

constexpr ESCAPEACTION kEscapeTable[] = {
    {'A', true, &EscapeActions::CursorUp},          // cursor up
    {'B', true, &EscapeActions::CursorDown},        // cursor down
    {'C', true, &EscapeActions::CursorRight},       // cursor right
    {'D', true, &EscapeActions::CursorLeft},        // cursor left
    {'H', true, &EscapeActions::CursorPosition},    // cursor position
    {'f', true, &EscapeActions::CursorPosition},    // cursor position
    {'J', true, &EscapeActions::EraseDisplay},      // erase in display
    {'K', false, &EscapeActions::EraseLine},        // erase in line
    {'L', true, &EscapeActions::InsertLines},       // insert lines
    {'M', true, &EscapeActions::DeleteLines},       // delete lines
    {'P', false, &EscapeActions::DeleteChars},      // delete characters
    {'@', false, &EscapeActions::InsertSpaces},     // insert spaces
    {'m', false, &EscapeActions::Attributes},       // character attributes
    {'r', false, &EscapeActions::ScrollRegion},     // scroll region
    {'n', false, &EscapeActions::DeviceStatus},     // device status report
    {'c', false, &EscapeActions::DeviceAttributes}, // device attributes
};

const ESCAPEACTION* FindAction(unsigned char final) {
  static const auto index = [] {
    std::array<const ESCAPEACTION*, 256> a{};
    for (const auto& e : kEscapeTable) a[e.final] = &e;
    return a;
  }();
  return index[final];
}

}  // namespace

// The connect-line protection's scroll: the screen moves up n lines even past
// the newest line.  A line cursor cannot stand past the newest line, so the
// new top line is appended when it does not exist yet (at most one line: the
// connect line is at or above the cursor).  The cursor stays on its line
// unless that left the screen; it is then put on the top row.
void MYBITMAP::ScrollUpForced(int n) {
  for (int missing = n - Row(cvNewest); missing > 0; --missing) {
    CODEVRAM cv = cvNewest;
    cv.LineFeed();
  }
  cvTop = STOCK::AddIndex(cvTop, n);
  if (Row(cvCur) < 0) cvCur = cvTop;
  ClearUpdateArea();
  ExtendScrollable();
  RepaintAll();
}

int MYBITMAP::ProcessEscape(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  // 1. ESC "(" and its character-set final: swallowed.
  if (chIntroducer == '(') return 1;
  // 2. A parameter byte is stored; the 39th ends the sequence.
  if (IsParamByte(c)) {
    if (cParam >= kParamBytes) {
      cParam = 0;
      szParam[1] = 0;
      return 1;
    }
    szParam[1 + cParam++] = ch;
    return 0;
  }
  // 3. The final byte.
  const ESCAPEACTION* action = FindAction(c);
  if (action && action->protectConnectLine) EscapeActions::ProtectConnectLine(*this);
  // 4.
  szParam[0] = ';';
  szParam[1 + cParam] = 0;
  pParam = szParam;
  // 5. Private sequences are consumed.
  if (cParam > 0 && szParam[1] == '?') return 1;
  // 6.
  if (action) action->act(*this);
  return 1;
}
