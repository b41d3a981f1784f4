// The listing of a compiled program: one atom a line, then the labels and
// the constants.
//
//   000000 002 SEND
//   000001 166 STRING 000000 "Hello^M"
//   000006 131 LINENO 2
//   000009 132 ENDLOOP 000000
//   label 000012 "START"
//   const 000000 "Hello^M"
//
// Offsets are six hexadecimal digits; texts are UTF-8 in quotes, with
// control bytes as caret escapes (^A..^Z, else ^0XX), and '"' and '^' escaped
// with a caret, so that the listing reads back as script literals.
#pragma once

#include <string>
#include <string_view>

class NEWSCRIPT;

std::string ListProgram(const NEWSCRIPT& program);
// A Shift_JIS text as the listing quotes it.
std::string QuoteScriptText(std::string_view sjis);
