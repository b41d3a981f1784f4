// The matcher's surroundings: what it needs from the layers above the stock
// (the quotation prefixes, whether a call is up, a progress box), the query
// text of a logical line, and the passes over a call.
//
// Matching itself is TAGMAKER::StartQuery .. EndQuery (stock/tagmaker.h),
// defined in stock/tagquery.cpp; re-tagging the whole stock is
// TREE::RefreshTagAll (stock/tagretag.cpp).
//
// How a logical line is matched (TAGMAKER::Query):
//   1. Its query text: the first slot's text bytes (an empty cell a blank),
//      0x0B at the slot's input column when that lies inside the text, then
//      the second slot's the same way when the line goes on (its own input
//      column only when the first slot had none); at most 254 bytes, cut at
//      a whole character.  Only two slots take part.
//   2. Lines still covered by the last rule (its TAGPROP::cCover) take tag 1
//      and nothing else happens to them.
//   3. An awaited exit pattern that does not match the text: only quotations
//      are looked for (and only inside a message).
//   4. The candidates of the open levels, deepest level first, rule order
//      within a level.  A rule whose pattern spans n lines (2 to 4) is
//      matched against the last n logical lines joined by line feeds; it
//      never reaches back to or past a connect line, and it tags the first
//      of them.  A pattern that starts with "^" and a literal is only handed
//      to the engine when that literal starts one of the lines (or follows
//      a line feed byte inside one).
//   5. Nothing matched inside a message: a line that begins with a quotation
//      prefix (and holds no input of the user's) becomes tag 2.
// Matching never overwrites a connect line's tag 3.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "stock/codevram.h"

struct TAGQUERYHOOKS {
  // The quotation prefixes (Shift_JIS).  Empty: no quotations.
  std::function<std::vector<std::string>()> quotePrefixes;
  // Whether a call is up (re-tagging is refused then).  Empty: no call.
  std::function<bool()> online;
  // The re-tagging progress box "カラー構文を再計算中": begin with the number of
  // steps, step (false when the user pressed stop), end.  Empty: none shown.
  std::function<void(int steps)> progressBegin;
  std::function<bool(int done)> progressStep;
  std::function<void()> progressEnd;
  // A matching run's notices (a pattern switched off by the retry limit, a
  // pattern that does not compile), UTF-8.  Empty: the debug log.
  std::function<void(const std::string& text)> report;
};
extern TAGQUERYHOOKS tagQueryHooks;

// The query text of the logical line whose first slot is `first` into out
// (room for 256 bytes; NUL-terminated); returns its length.
int BuildQueryText(CODEVRAM first, char* out);
// The same from raw slots (mark byte then cColumn text bytes): `second` is
// null when the line ends in the first slot.
int BuildQueryTextFromSlots(const unsigned char* first, const unsigned char* second, int column, char* out);

// TAGMAKER::Query over a logical line's raw slots (mark byte then cColumn
// text bytes), for walks that read the stock's slots themselves: `second`
// is the line's next slot, null when the line ends in the first; `slots`
// the number of slots the line spans (0: not known).
int TagQuerySlots(CODEVRAM line, const unsigned char* first, const unsigned char* second, int slots = 0);

// The literal a pattern's matches must start a line with ("^" followed by
// plain characters, no "|" outside groups); empty when there is none.
std::string LeadingLiteral(const char* libPattern);
// Whether a text is handed to the engine only when its pattern's leading
// literal stands at one of its line starts (on by default).  The test
// changes no tag, only the work done; tests switch it off to show that.
void TagQuerySetPrefilter(bool on);
// Whether patterns in the own matcher's subset (stock/tagmatch.h) are
// matched by it instead of the engine (on by default).  Its answers are the
// engine's, so the tags are the same; tests switch it off to show that.
void TagQuerySetOwnMatcher(bool on);

// Matches every logical line from the newest connect line to the newest line
// (the NoColorOnline pass at hang-up), in a run of its own.  Returns how many
// lines got a tag.
int QueryLastCall();

// The lines a logical line spans, first slot given: how many slots.
int LogicalLineSlots(CODEVRAM first);

// The message rules' texts of a message line (CODEVRAM::speechRule).
bool TagSpeechRule(const CODEVRAM& line, SPEECHRULETEXT* rule);

// Connects the colour syntax inside the stock layer: the title caches clear
// on every load, GetSpeechInfo reads the message rules, and the stock's
// syntax hooks (retag, openSyntax, emptySyntax) reach TAGMAKER and
// TREE::RefreshTagAll.  Idempotent.
void InstallTagEngine();
