// The colour syntax's own matcher (see stock/tagmatch.h).
#include "stock/tagmatch.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "platform/jre.h"

namespace {

// The engine's Shift_JIS: these bytes begin a two-byte character.
inline bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
inline bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Limits that keep a compiled program small.
constexpr int kMaxRepeat = 100;
constexpr size_t kMaxProgram = 2000;
constexpr int kMaxDepth = 32;
// Backtracking entries one search may hold at once.
constexpr size_t kMaxStack = 8192;

}  // namespace

struct TagMatcher::Node {
  enum Kind { kChar, kAny, kClass, kBol, kEol, kCat, kAlt, kRepeat } kind;
  uint32_t value = 0;  // kChar: code; kClass: class number
  int min = 0, max = 0;  // kRepeat: bounds, max -1 without one
  std::vector<std::unique_ptr<Node>> kids;
  explicit Node(Kind k, uint32_t v = 0) : kind(k), value(v) {}
};

struct TagMatchParser {
  using Node = TagMatcher::Node;
  const unsigned char* p;
  const unsigned char* end;
  TagMatcher* m;
  int depth = 0;

  bool AtEnd() const { return p >= end; }

  // One character of the pattern as a code: two bytes for a lead byte and
  // its trail, one otherwise.  False for bytes the subset does not take.
  bool Character(uint32_t* code) {
    const unsigned char c = *p;
    if (IsLead(c)) {
      if (p + 1 >= end || !IsTrail(p[1])) return false;
      *code = uint32_t(c) << 8 | p[1];
      p += 2;
      return true;
    }
    if (c == 0 || c >= 0xFD) return false;
    *code = c;
    ++p;
    return true;
  }

  // After a "\": a character it stands for (false: not one the subset takes).
  bool EscapedCharacter(uint32_t* code) {
    if (AtEnd()) return false;
    const unsigned char c = *p;
    switch (c) {
      case 'n': *code = 0x0A; break;
      case 't': *code = 0x09; break;
      case 'v': *code = 0x0B; break;
      case 'r': *code = 0x0D; break;
      case 'f': *code = 0x0C; break;
      default:
        // These punctuation marks stand for themselves (others, such as
        // "\<" or "\`", mean something in some syntaxes and are left to
        // the engine).
        if (c == 0 || !std::strchr("\\.()[]{}*+?|^$/-#:;,!\"%&=@~_ ", c)) return false;
        *code = c;
    }
    ++p;
    return true;
  }

  static void AddDigits(TagMatcher::Class* cls) {
    cls->ranges.push_back('0');
    cls->ranges.push_back('9');
  }

  // After "[": the class up to its "]".
  bool ParseClass(uint32_t* number) {
    TagMatcher::Class cls;
    if (!AtEnd() && *p == '^') {
      cls.negated = true;
      ++p;
    }
    bool first = true;
    for (;;) {
      if (AtEnd()) return false;
      if (*p == ']') {
        if (first) return false;  // "[]..." and "[^]...": left to the engine
        ++p;
        break;
      }
      first = false;
      // Nested classes, POSIX brackets, intersections and edge "-" are left
      // to the engine.
      if (*p == '[' || *p == '-' || (*p == '&' && p + 1 < end && p[1] == '&')) return false;
      uint32_t lo;
      if (*p == '\\') {
        ++p;
        if (!AtEnd() && *p == 'd') {
          ++p;
          AddDigits(&cls);
          continue;
        }
        if (!EscapedCharacter(&lo)) return false;
      } else if (!Character(&lo)) {
        return false;
      }
      uint32_t hi = lo;
      if (!AtEnd() && *p == '-' && p + 1 < end && p[1] != ']') {
        ++p;
        if (*p == '[' || *p == '-') return false;
        if (*p == '\\') {
          ++p;
          if (!EscapedCharacter(&hi)) return false;
        } else if (!Character(&hi)) {
          return false;
        }
        if (hi < lo) return false;
      }
      // Single bytes from 0x80 up (half-width kana) and ranges from one
      // width to the other are read by the engine in ways of its own.
      if ((lo >= 0x80 && lo <= 0xFF) || (hi >= 0x80 && hi <= 0xFF) || ((lo > 0xFF) != (hi > 0xFF))) return false;
      cls.ranges.push_back(lo);
      cls.ranges.push_back(hi);
    }
    *number = uint32_t(m->classes_.size());
    m->classes_.push_back(std::move(cls));
    return true;
  }

  std::unique_ptr<Node> ParseAtom() {
    const unsigned char c = *p;
    if (c == '(') {
      ++p;
      if (!AtEnd() && *p == '?') {
        if (p + 1 >= end || p[1] != ':') return nullptr;
        p += 2;
      }
      if (++depth > kMaxDepth) return nullptr;
      auto inner = ParseAlternation();
      --depth;
      if (!inner || AtEnd() || *p != ')') return nullptr;
      ++p;
      return inner;
    }
    if (c == '[') {
      ++p;
      uint32_t number;
      if (!ParseClass(&number)) return nullptr;
      return std::make_unique<Node>(Node::kClass, number);
    }
    if (c == '.') {
      ++p;
      return std::make_unique<Node>(Node::kAny);
    }
    if (c == '^') {
      ++p;
      return std::make_unique<Node>(Node::kBol);
    }
    if (c == '$') {
      ++p;
      return std::make_unique<Node>(Node::kEol);
    }
    if (c == '\\') {
      ++p;
      if (!AtEnd() && *p == 'd') {
        ++p;
        TagMatcher::Class cls;
        AddDigits(&cls);
        m->classes_.push_back(std::move(cls));
        return std::make_unique<Node>(Node::kClass, uint32_t(m->classes_.size() - 1));
      }
      uint32_t code;
      if (!EscapedCharacter(&code)) return nullptr;
      return std::make_unique<Node>(Node::kChar, code);
    }
    // Characters with a meaning of their own, or one only in some places.
    if (std::strchr("*+?{}])|", c)) return nullptr;
    uint32_t code;
    if (!Character(&code)) return nullptr;
    return std::make_unique<Node>(Node::kChar, code);
  }

  // Whether n can match the empty text, and whether it holds a quantifier.
  static bool Nullable(const Node& n) {
    switch (n.kind) {
      case Node::kChar: case Node::kAny: case Node::kClass: return false;
      case Node::kBol: case Node::kEol: return true;
      case Node::kCat:
        for (const auto& k : n.kids)
          if (!Nullable(*k)) return false;
        return true;
      case Node::kAlt:
        for (const auto& k : n.kids)
          if (Nullable(*k)) return true;
        return false;
      case Node::kRepeat: return n.min == 0 || Nullable(*n.kids[0]);
    }
    return true;
  }
  static bool HasRepeat(const Node& n) {
    if (n.kind == Node::kRepeat) return true;
    for (const auto& k : n.kids)
      if (HasRepeat(*k)) return true;
    return false;
  }

  bool Number(int* out) {
    if (AtEnd() || *p < '0' || *p > '9') return false;
    long v = 0;
    while (!AtEnd() && *p >= '0' && *p <= '9') {
      v = v * 10 + (*p - '0');
      if (v > kMaxRepeat) return false;
      ++p;
    }
    *out = int(v);
    return true;
  }

  // A quantifier after an atom, if one follows.  False when it is one the
  // subset does not take.
  bool Quantifier(std::unique_ptr<Node>* atom) {
    if (AtEnd()) return true;
    int min, max;
    bool interval = false;
    switch (*p) {
      case '*': min = 0, max = -1; ++p; break;
      case '+': min = 1, max = -1; ++p; break;
      case '?': min = 0, max = 1; ++p; break;
      case '{': {
        ++p;
        if (!Number(&min)) return false;
        max = min;
        if (!AtEnd() && *p == ',') {
          ++p;
          max = -1;
          if (!AtEnd() && *p != '}' && !Number(&max)) return false;
        }
        if (AtEnd() || *p != '}') return false;
        ++p;
        if (max >= 0 && max < min) return false;
        interval = true;
        break;
      }
      default: return true;
    }
    // A lazy mark changes which match is found, not whether there is one;
    // anything else after a quantifier is left to the engine.
    if (!AtEnd() && !interval && *p == '?') ++p;
    if (!AtEnd() && std::strchr("*+?{", *p)) return false;
    if (Nullable(**atom) || HasRepeat(**atom)) return false;
    auto rep = std::make_unique<Node>(Node::kRepeat);
    rep->min = min;
    rep->max = max;
    rep->kids.push_back(std::move(*atom));
    *atom = std::move(rep);
    return true;
  }

  std::unique_ptr<Node> ParseSequence() {
    auto cat = std::make_unique<Node>(Node::kCat);
    while (!AtEnd() && *p != '|' && *p != ')') {
      auto atom = ParseAtom();
      if (!atom) return nullptr;
      if (!Quantifier(&atom)) return nullptr;
      cat->kids.push_back(std::move(atom));
    }
    return cat;
  }

  std::unique_ptr<Node> ParseAlternation() {
    auto alt = std::make_unique<Node>(Node::kAlt);
    for (;;) {
      auto seq = ParseSequence();
      if (!seq) return nullptr;
      alt->kids.push_back(std::move(seq));
      if (AtEnd() || *p != '|') break;
      ++p;
    }
    if (alt->kids.size() == 1) return std::move(alt->kids[0]);
    return alt;
  }
};

void TagMatcher::Emit(const Node& n) {
  if (prog_.size() > kMaxProgram) return;
  switch (n.kind) {
    case Node::kChar: prog_.push_back({kChar, n.value, 0}); break;
    case Node::kAny: prog_.push_back({kAny, 0, 0}); break;
    case Node::kClass: prog_.push_back({kClass, n.value, 0}); break;
    case Node::kBol: prog_.push_back({kBol, 0, 0}); break;
    case Node::kEol: prog_.push_back({kEol, 0, 0}); break;
    case Node::kCat:
      for (const auto& k : n.kids) Emit(*k);
      break;
    case Node::kAlt: {
      // split a, next; a; jmp end; next: split b, next2; b; jmp end; ... last
      std::vector<size_t> jumps;
      for (size_t i = 0; i < n.kids.size(); ++i) {
        size_t split = 0;
        const bool last = i + 1 == n.kids.size();
        if (!last) {
          split = prog_.size();
          prog_.push_back({kSplit, uint32_t(split + 1), 0});
        }
        Emit(*n.kids[i]);
        if (!last) {
          jumps.push_back(prog_.size());
          prog_.push_back({kJmp, 0, 0});
          prog_[split].y = uint32_t(prog_.size());
        }
      }
      for (size_t j : jumps) prog_[j].x = uint32_t(prog_.size());
      break;
    }
    case Node::kRepeat: {
      const Node& body = *n.kids[0];
      for (int i = 0; i < n.min; ++i) Emit(body);
      const bool single = body.kind == Node::kChar || body.kind == Node::kAny || body.kind == Node::kClass;
      if (n.max < 0 && single) {
        prog_.push_back({kRun, kRunGreedy, 0});
        Emit(body);
      } else if (n.max < 0) {
        // loop: split body, out; body; jmp loop
        const size_t loop = prog_.size();
        prog_.push_back({kSplit, uint32_t(loop + 1), 0});
        Emit(body);
        prog_.push_back({kJmp, uint32_t(loop), 0});
        prog_[loop].y = uint32_t(prog_.size());
      } else {
        // Each further copy is optional, and so is every copy after it.
        std::vector<size_t> splits;
        for (int i = n.min; i < n.max; ++i) {
          splits.push_back(prog_.size());
          prog_.push_back({kSplit, uint32_t(prog_.size() + 1), 0});
          Emit(body);
        }
        for (size_t s : splits) prog_[s].y = uint32_t(prog_.size());
      }
      break;
    }
  }
}

bool TagMatcher::Takes(const Inst& in, uint32_t code) const {
  switch (in.op) {
    case kChar: return code == in.x;
    case kAny: return code != 0x0A;
    case kClass: return ClassHas(classes_[in.x], code);
    default: return false;
  }
}

// Whether no character the loop body takes can be the first one the rest of
// the pattern from `from` takes (through optional parts and jumps), so that
// stopping the loop early can never help.  False when unsure.
bool TagMatcher::CannotFollow(const Inst& body, size_t from) const {
  std::vector<size_t> todo{from};
  std::vector<bool> seen(prog_.size(), false);
  while (!todo.empty()) {
    const size_t pc = todo.back();
    todo.pop_back();
    if (pc >= prog_.size() || seen[pc]) continue;
    seen[pc] = true;
    const Inst& in = prog_[pc];
    switch (in.op) {
      case kSplit:
        todo.push_back(in.x);
        todo.push_back(in.y);
        break;
      case kJmp:
        todo.push_back(in.x);
        break;
      case kChar:
        if (Takes(body, in.x)) return false;
        break;
      case kAny:
      case kClass:
        // Only a single character as the body is compared with these.
        if (body.op != kChar || Takes(in, body.x)) return false;
        break;
      default:
        return false;  // anchors, the end, another loop: left as it is
    }
  }
  return true;
}

// Decides how each loop runs from what follows it.
void TagMatcher::PlanRuns() {
  for (Class& c : classes_) {
    c.ascii[0] = c.ascii[1] = 0;
    for (uint32_t code = 0; code < 0x80; ++code) {
      bool in = false;
      for (size_t i = 0; i + 1 < c.ranges.size(); i += 2) in = in || (code >= c.ranges[i] && code <= c.ranges[i + 1]);
      if (in != c.negated) c.ascii[code >> 6] |= uint64_t(1) << (code & 63);
    }
  }
  tailOf_.assign(prog_.size(), -1);
  tails_.clear();
  for (size_t pc = 0; pc + 2 < prog_.size(); ++pc) {
    if (prog_[pc].op != kRun) continue;
    const Inst& body = prog_[pc + 1];
    const Inst& next = prog_[pc + 2];
    if ((next.op == kEol && !Takes(body, 0x0A)) || next.op == kMatch || CannotFollow(body, pc + 2)) {
      prog_[pc].x = kRunWhole;
      continue;
    }
    if (body.op != kAny) continue;
    std::string tail;
    size_t k = pc + 2;
    for (; k < prog_.size() && prog_[k].op == kChar; ++k) {
      const uint32_t c = prog_[k].x;
      if (c > 0xFF) tail += char(c >> 8);
      tail += char(c & 0xFF);
    }
    if (k < prog_.size() && prog_[k].op == kMatch && !tail.empty()) {
      prog_[pc].x = kRunFindTail;
      tailOf_[pc] = int(tails_.size());
      tails_.push_back(std::move(tail));
    }
  }
}

bool TagMatcher::Compile(const char* pattern, int length) {
  prog_.clear();
  classes_.clear();
  anchored_ = false;
  if (!pattern || length < 0) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(pattern);
  TagMatchParser parser{bytes, bytes + length, this};
  std::unique_ptr<Node> root = parser.ParseAlternation();
  if (!root || !parser.AtEnd()) {
    classes_.clear();
    return false;
  }
  Emit(*root);
  if (prog_.size() > kMaxProgram) {
    prog_.clear();
    classes_.clear();
    return false;
  }
  prog_.push_back({kMatch, 0, 0});
  PlanRuns();
  anchored_ = prog_[0].op == kBol;
  return true;
}

bool TagMatcher::ClassHas(const Class& c, uint32_t code) const {
  if (code < 0x80) return (c.ascii[code >> 6] >> (code & 63)) & 1;
  bool in = false;
  for (size_t i = 0; i + 1 < c.ranges.size(); i += 2)
    if (code >= c.ranges[i] && code <= c.ranges[i + 1]) {
      in = true;
      break;
    }
  return in != c.negated;
}

namespace {
// The character at pos: its width (0 past the end, -1 for bytes the matcher
// does not read itself) and code.
inline int Decode(const unsigned char* text, int length, int pos, uint32_t* code) {
  if (pos >= length) return 0;
  const unsigned char c = text[pos];
  if (c < 0x80) {
    *code = c;
    return 1;
  }
  if (IsLead(c)) {
    if (pos + 1 >= length || !IsTrail(text[pos + 1])) return -1;
    *code = uint32_t(c) << 8 | text[pos + 1];
    return 2;
  }
  if (c >= 0xFD) return -1;
  *code = c;
  return 1;
}
}  // namespace

namespace {
struct Entry {
  uint32_t pc;
  int pos;
};

// A loop over one consuming instruction from *pos on, as far as `takes`
// accepts characters; greedy loops leave an entry to come back to before
// each character (to go on at `next`), the others count each character
// against the budget.  0 done, -1 cannot tell.
template <class Pred>
int Run(const unsigned char* text, int length, int* pos, bool greedy, uint32_t next, long* budget, Entry* stack,
        size_t* depth, Pred takes) {
  int p = *pos;
  while (p < length) {
    uint32_t code = text[p];
    int width = 1;
    if (code >= 0x80) {
      width = Decode(text, length, p, &code);
      if (width < 0) return -1;
    }
    if (!takes(code)) break;
    if (greedy) {
      if (*depth >= kMaxStack) return -1;
      stack[(*depth)++] = {next, p};
    } else if (--*budget < 0) {
      // The engine may back off over each of these characters: they count
      // as its retries would.
      return -1;
    }
    p += width;
  }
  *pos = p;
  return 0;
}
}  // namespace

int TagMatcher::MatchAt(const unsigned char* text, int length, int start, long* budget) const {
  Entry stack[kMaxStack];
  size_t depth = 0;
  uint32_t pc = 0;
  int pos = start;
  for (;;) {
    const Inst& in = prog_[pc];
    bool ok = true;
    switch (in.op) {
      case kChar:
      case kAny:
      case kClass: {
        uint32_t code;
        const int width = Decode(text, length, pos, &code);
        if (width < 0) return -1;
        ok = width > 0 && Takes(in, code);
        if (ok) {
          pos += width;
          ++pc;
        }
        break;
      }
      case kRun: {
        const Inst& body = prog_[pc + 1];
        if (in.x == kRunFindTail) {
          // The rest of the pattern is the tail's bytes: one of the line's
          // character starts from here on must begin them.
          const std::string& tail = tails_[size_t(tailOf_[pc])];
          for (;;) {
            if (size_t(length - pos) >= tail.size() && text[pos] == uint8_t(tail[0]) &&
                std::memcmp(text + pos, tail.data(), tail.size()) == 0)
              return 1;
            uint32_t code;
            const int width = Decode(text, length, pos, &code);
            if (width < 0) return -1;
            if (width == 0 || code == 0x0A) break;
            pos += width;
            if (--*budget < 0) return -1;
          }
          ok = false;
          break;
        }
        const bool greedy = in.x == kRunGreedy;
        int r;
        if (body.op == kAny)
          r = Run(text, length, &pos, greedy, pc + 2, budget, stack, &depth, [](uint32_t c) { return c != 0x0A; });
        else if (body.op == kChar)
          r = Run(text, length, &pos, greedy, pc + 2, budget, stack, &depth, [&](uint32_t c) { return c == body.x; });
        else
          r = Run(text, length, &pos, greedy, pc + 2, budget, stack, &depth,
                  [&, &cls = classes_[body.x]](uint32_t c) { return ClassHas(cls, c); });
        if (r < 0) return -1;
        pc += 2;
        break;
      }
      case kBol:
        // Not at the end of the text, even after a line feed (as the engine).
        ok = pos == 0 || (text[pos - 1] == 0x0A && pos < length);
        ++pc;
        break;
      case kEol:
        ok = pos == length || text[pos] == 0x0A;
        ++pc;
        break;
      case kSplit:
        if (depth >= kMaxStack) return -1;
        stack[depth++] = {in.y, pos};
        pc = in.x;
        break;
      case kJmp:
        pc = in.x;
        break;
      case kMatch:
        return 1;
    }
    if (ok) continue;
    if (depth == 0) return 0;
    if (--*budget < 0) return -1;
    --depth;
    pc = stack[depth].pc;
    pos = stack[depth].pos;
  }
}

int TagMatcher::Search(const char* chars, int length) const {
  if (prog_.empty()) return -1;
  const auto* text = reinterpret_cast<const unsigned char*>(chars);
  if (length < 0) length = 0;
  // A quarter of the engine's limit, which holds for the whole search too.
  long budget = long(JreRetryLimit() / 4);
  for (int s = 0; s <= length;) {
    if (!anchored_ || s == 0 || text[s - 1] == 0x0A) {
      const int r = MatchAt(text, length, s, &budget);
      if (r != 0) return r;
      // A failed start costs the engine a retry as well.
      if (--budget < 0) return -1;
    }
    if (s == length) break;
    if (anchored_) {
      // The next line start.  A line feed after a byte that may begin a
      // two-byte character may be no line feed to the engine.
      const void* lf = std::memchr(text + s, 0x0A, size_t(length - s));
      if (!lf) break;
      const int at = int(static_cast<const unsigned char*>(lf) - text);
      if (at > 0 && IsLead(text[at - 1])) return -1;
      s = at + 1;
    } else {
      uint32_t code;
      const int width = Decode(text, length, s, &code);
      if (width < 0) return -1;
      s += width;
    }
  }
  return 0;
}
