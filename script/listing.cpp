#include "script/listing.h"

#include <cstdio>

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/newscript.h"

namespace {

std::string Hex6(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%06x", v);
  return b;
}

void CaretHex(std::string& out, unsigned char c) {
  char b[8];
  std::snprintf(b, sizeof b, "^0%02X", c);
  out += b;
}

}  // namespace

std::string QuoteScriptText(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 1 && c <= 26) {
      out += '^';
      out += static_cast<char>('A' + c - 1);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      CaretHex(out, c);
      ++i;
    } else if (c == '"' || c == '^') {
      out += '^';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // One character (two bytes for a lead byte with its trail); a byte the
      // code does not know stays visible as its hexadecimal escape.
      const size_t n = jcode::IsKanji1(c) && i + 1 < s.size() ? 2 : 1;
      const std::string u = jcode::SjisToUtf8(s.substr(i, n));
      if (u == "\xEF\xBF\xBD" || u.empty())
        for (size_t k = 0; k < n; ++k) CaretHex(out, static_cast<unsigned char>(s[i + k]));
      else
        out += u;
      i += n;
    }
  }
  out += '"';
  return out;
}

std::string ListProgram(const NEWSCRIPT& program) {
  std::string out;
  const std::vector<uint8_t>& code = program.Code();
  ATOMITERATOR it(code.data(), code.size());
  ATOMREF a;
  char num[8];
  while (it.Next(a)) {
    std::snprintf(num, sizeof num, "%03u", a.atom);
    out += Hex6(a.offset) + " " + num + " " + atom::Name(a.atom);
    switch (a.atom) {
      case atom::LABEL:
      case atom::CALL:
      case atom::AFTERHANGUP:
      case atom::ASSIGN:
      case atom::WORD:
      case atom::VARIABLE: out += " " + QuoteScriptText(a.Text()); break;
      case atom::LINENO: out += " " + std::to_string(a.Line()); break;
      case atom::ENDLOOP:
      case atom::ENDWHILE:
      case atom::LOOPAGAIN: out += " " + Hex6(a.Offset()); break;
      case atom::STRING: out += " " + Hex6(a.Offset()) + " " + QuoteScriptText(program.Constant(a.Offset())); break;
      case atom::NUMBER: out += " " + std::to_string(a.Number()); break;
      default: break;
    }
    out += '\n';
  }
  const std::string& labels = program.Labels();
  for (size_t p = 0; p + 4 < labels.size();) {
    const uint32_t pos = atom::Get32(reinterpret_cast<const uint8_t*>(labels.data() + p));
    const size_t nul = labels.find('\0', p + 4);
    if (nul == std::string::npos) break;
    out += "label " + Hex6(pos) + " " + QuoteScriptText(std::string_view(labels).substr(p + 4, nul - p - 4)) + "\n";
    p = nul + 1;
  }
  const std::string& consts = program.Constants();
  for (size_t p = 0; p < consts.size();) {
    const size_t nul = consts.find('\0', p);
    out += "const " + Hex6(static_cast<uint32_t>(p)) + " " +
           QuoteScriptText(std::string_view(consts).substr(p, nul - p)) + "\n";
    p = nul + 1;
  }
  return out;
}
