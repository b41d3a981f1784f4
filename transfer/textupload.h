// Text upload: a file or the clipboard's text sent line by line as if typed,
// shaped to the host's screen and paced by the host's echo.
//
// TEXTSHAPER cuts the source into the lines that go on the wire.  The source
// is Shift_JIS text: CR and NUL are dropped, LF ends a line (sent as CR),
// 0x1A or the end of the source ends it.  A line longer than the width is
// broken before the width, never inside a double-byte character; with
// kinsoku the configuration's tables keep forbidden characters off the start
// and end of a line (looking back over the last quarter of the line), up to
// two hanging punctuation marks may stay beyond the width (narrow lines
// only), and word wrap keeps English words whole (looking back at most to a
// third of the width).  Every line is sent behind the margin, and a wrapped
// paragraph's leading blanks can be repeated on its continuation lines.
//
// The buffer holds one screen line (plus a few columns of look-ahead): a TAB
// whose stop lies beyond it waits for the next line.  TAB widths are worked
// out where the TAB finally stands in its line, so no filler ever reaches the
// wire.  However the margins are set, a line keeps a width of at least two
// columns: a margin and indentation that would leave less are left off that
// line.
//
// NOPROTOCOL is the engine: one line at a time, then the pacing states
// (waiting for the echo, for the output to drain, for the pace character),
// with the echo collation and the echoes handed to the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transfer/transfer.h"

struct TEXTSHAPE {
  int screenWidth = 80;        // the host screen's columns
  int orikaeshi = 76;          // Orikaeshi: the wrap column (used when 20..screenWidth)
  int margin = 0;              // Margin: blanks in front of every line
  bool hankakuMargin = true;   // HankakuMargin: the margin in half-width blanks (else 0x81 0x40)
  bool autoMarginSync = false; // AutoMarginSync: repeat a wrapped line's leading blanks
  bool kinsoku = true;         // Kinsoku
  bool burasage = true;        // Burasage: hanging punctuation
  bool wordwrap = true;        // Wordwrap: no break inside an English word
  int tabToSpace = 0;          // TabToSpace: 0 keeps TABs (stops every 8), else blanks to a multiple of it
  std::string topKinsoku;      // characters that may not begin a line (Shift_JIS)
  std::string bottomKinsoku;   // characters that may not end a line (Shift_JIS)
};

class TEXTSHAPER {
 public:
  // Reads up to max bytes of the source: the count, 0 at its end, -1 on a
  // read error.
  using SOURCE = std::function<long(char* buf, size_t max)>;

  TEXTSHAPER(const TEXTSHAPE& shape, SOURCE source);
  // The next line as it goes on the wire (margin, indentation, text, and CR
  // unless it is the source's last line without a line end), and the source
  // bytes it accounts for.  False when nothing is left (or on a read error).
  bool Next(std::string* line, long long* consumed);
  bool ReadError() const { return readError; }
  // Whether the wrap column makes lines shorter than the screen.
  bool CutsShort() const;

 private:
  struct UNIT {
    char b[2];
    std::uint8_t n;       // bytes in b (1 or 2); 0 for the line end
    bool tab;
    int source;           // source bytes this unit stands for (dropped CR/NUL included)
  };
  // Buffer columns before unit i (TABs measured where they stand).
  int Columns(size_t upTo, int width) const;
  int UnitWidth(const UNIT& u, int column, int width) const;
  void Fill(int width);
  bool SourceByte(size_t ahead, unsigned char* c);  // peeks at the source
  void Take(size_t n);
  bool IsTop(const UNIT& u) const;
  bool IsBottom(const UNIT& u) const;
  size_t Break(int width) const;

  TEXTSHAPE s;
  SOURCE source;
  std::string src;       // source bytes read and not yet taken
  size_t srcPos = 0;
  bool srcEnd = false;
  bool readError = false;
  int dropped = 0;       // CR/NUL bytes taken since the last unit
  std::vector<UNIT> units;
  std::vector<std::string> top, bottom;  // the tables, one character each
  std::string indent;    // the repeated indentation (wire bytes)
  int indentColumns = 0;
  bool prevCR = true;    // the next line begins a source line
};

// Shapes a whole text at once (tests, the fuzz target): the lines in order.
std::vector<std::string> ShapeText(const TEXTSHAPE& shape, const std::string& text);

// Settings and hooks of the next text upload (read when the engine is made).
struct TEXTUPLOAD {
  TEXTSHAPE shape;
  std::uint8_t paceCharacter = 0;  // PaceCharacter (0: none)
  bool collate = false;            // Collate: the echo must repeat what was sent
  bool fastSend = false;           // FastSend: no waiting for the echo
  // The text to send (the clipboard's, Shift_JIS); none: the transfer's file.
  std::optional<std::string> text;
  // Sends up to n bytes of a line, returning how many it took (0: no room
  // now).  Empty: the transfer's line.
  std::function<size_t(const char* data, size_t n)> send;
  // Bytes received while uploading (the echo): shown on the terminal and
  // logged.  Empty: dropped once collated.
  std::function<void(const char* data, size_t n)> echo;
  // A number that changes whenever the newest stored line of the screen
  // changes.  Empty: never changes.
  std::function<long long()> newestLine;
};
extern TEXTUPLOAD textUpload;

// Timing of the pacing (milliseconds) and the collation's bound (bytes sent
// and not yet echoed; beyond it the echo is taken as missing: error 11).
constexpr int kTextFirstLineMs = 1000;
constexpr int kTextEchoWaitMs = 5000;
constexpr size_t kTextFastQueue = 1000;
constexpr size_t kTextCollateMax = 8192;

std::unique_ptr<PROTOCOLENGINE> MakeTextUpload(TRANSFER& t);
