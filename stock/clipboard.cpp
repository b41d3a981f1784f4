// The clipboard module (stock/clipboard.h).
#include "stock/clipboard.h"

#include <QMimeData>
#include <QString>
#include <algorithm>

#include "platform/jcode.h"
#include "stock/stock.h"

const char kStockInfoMime[] = "application/x-quillnet-stock-info";
CLIPBOARDHOOKS clipboardHooks;

namespace {

// The module's own clipboard, used while no system clipboard is installed.
std::unique_ptr<QMimeData>& OwnClipboard() {
  static std::unique_ptr<QMimeData> data;
  return data;
}

constexpr char kGeta[] = "\x81\xAC";  // "〓" in Shift_JIS

// The length of the UTF-8 sequence a lead byte starts, 0 for no lead byte.
int SequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

}  // namespace

namespace clipboard {

std::string Utf8ToSjisMarked(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(char(c));
      ++i;
      continue;
    }
    int n = SequenceLength(c);
    bool valid = n > 0 && i + size_t(n) <= utf8.size();
    for (int k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(utf8[i + size_t(k)]) & 0xC0) == 0x80;
    if (!valid) {
      out += kGeta;
      ++i;
      continue;
    }
    const std::string s = jcode::Utf8ToSjis(utf8.substr(i, size_t(n)));
    // The converter gives "?" for a character the code cannot hold.
    if (s.empty() || s == "?")
      out += kGeta;
    else
      out += s;
    i += size_t(n);
  }
  return out;
}

STOCKCLIP CopyLines(CODEVRAM top, CODEVRAM bottom, int xTop, int xBottom, const std::string& prefix) {
  STOCKCLIP clip;
  clip.hasInfo = true;
  const bool whole = xBottom < 0;
  xTop = std::max(0, xTop);
  bool lineStart = true;  // the next slot begins a logical line
  int lastMark = -1;      // position in info of the last logical line's byte
  for (CODEVRAM cv = top;;) {
    const bool last = cv.i == bottom.i;
    const STOCKITEM* item = cv.Item();
    const int length = cv.Length();
    int from = cv.i == top.i ? std::min(xTop, length) : 0;
    int to = length;
    if (last && !whole) to = std::clamp(xBottom, from, length);
    if (lineStart) {
      unsigned char mark = cv.Tag() == TAG_CONNECT ? (unsigned char)STOCK_MARK_CONNECT : item->cInput;
      if (cv.i == top.i && mark != STOCK_MARK_NONE && mark != STOCK_MARK_CONNECT)
        mark = int(mark) - xTop < 0 ? (unsigned char)STOCK_MARK_NONE : (unsigned char)(mark - xTop);
      // The input column counts in the copied text, after the prefix.
      if (mark != STOCK_MARK_NONE && mark != STOCK_MARK_CONNECT)
        mark = int(mark) + int(prefix.size()) < STOCK_MARK_CONNECT ? (unsigned char)(mark + prefix.size())
                                                                   : (unsigned char)STOCK_MARK_NONE;
      lastMark = int(clip.info.size());
      clip.info.push_back(char(mark));
      // A quoted copy gets the prefix before each logical line, except
      // before an empty part at the end of a partial copy.
      if (!(last && !whole && to == 0 && cv.i != top.i)) clip.sjis += prefix;
    }
    const char* text = item->Text();
    for (int x = from; x < to; ++x) {
      const auto c = static_cast<unsigned char>(text[x]);
      clip.sjis.push_back(c < 0x20 ? ' ' : char(c));  // an empty cell is a blank
    }
    lineStart = cv.IsCR() != 0;
    if (lineStart && (!last || whole)) clip.sjis.push_back('\n');
    if (last || cv.IsNewest()) {
      // A whole copy ends its last line even where the line goes on into
      // a part that was not copied (the empty cursor line).
      if (whole && !lineStart) clip.sjis.push_back('\n');
      break;
    }
    ++cv;
  }
  if (!whole && lastMark >= 0) {
    const auto m = static_cast<unsigned char>(clip.info[size_t(lastMark)]);
    if (m != STOCK_MARK_NONE && m != STOCK_MARK_CONNECT && xBottom <= int(m)) clip.info[size_t(lastMark)] = char(STOCK_MARK_NONE);
  }
  return clip;
}

std::unique_ptr<QMimeData> ToMimeData(const STOCKCLIP& clip) {
  auto data = std::make_unique<QMimeData>();
  const std::string utf8 = jcode::SjisToUtf8(clip.sjis);
  data->setText(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
  if (clip.hasInfo) data->setData(kStockInfoMime, QByteArray(clip.info.data(), qsizetype(clip.info.size())));
  return data;
}

STOCKCLIP FromMimeData(const QMimeData& data) {
  STOCKCLIP clip;
  const QByteArray utf8 = data.text().toUtf8();
  clip.sjis = Utf8ToSjisMarked(std::string_view(utf8.constData(), size_t(utf8.size())));
  if (data.hasFormat(kStockInfoMime)) {
    const QByteArray info = data.data(kStockInfoMime);
    clip.info.assign(info.constData(), size_t(info.size()));
    clip.hasInfo = true;
  }
  return clip;
}

bool Put(const STOCKCLIP& clip) {
  auto data = ToMimeData(clip);
  if (clipboardHooks.put) return clipboardHooks.put(std::move(data));
  OwnClipboard() = std::move(data);
  return true;
}

bool Get(STOCKCLIP* clip) {
  const QMimeData* data = clipboardHooks.get ? clipboardHooks.get() : OwnClipboard().get();
  if (!data || !data->hasText()) return false;
  *clip = FromMimeData(*data);
  return true;
}

void ResetForTest() { OwnClipboard().reset(); }

std::vector<PLAINLINE> SplitLines(std::string_view sjis) {
  std::vector<PLAINLINE> lines;
  size_t i = 0;
  while (i < sjis.size()) {
    PLAINLINE line;
    for (; i < sjis.size(); ++i) {
      const auto c = static_cast<unsigned char>(sjis[i]);
      if (c == '\r' || c == '\n') {
        if (c == '\r' && i + 1 < sjis.size() && sjis[i + 1] == '\n') ++i;
        ++i;
        break;
      }
      line.text.push_back(c < 0x20 || c == 0x7F ? ' ' : char(c));
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

int SlotsOfLine(std::string_view text, int column) {
  int used = 1, x = 0;
  bool trail = false;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool lead = !trail && jcode::IsKanji1(c);
    if (lead && x == column - 1) {
      ++used;
      x = 0;
    }
    ++x;
    trail = lead;
    if (x == column) {
      ++used;
      x = 0;
    }
  }
  return used;
}

}  // namespace clipboard
