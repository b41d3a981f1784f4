// The text form of a colour syntax file (UTF-8), for reading, writing and
// keeping tag files under version control without the editor.
//
//   quillnet-tag 1
//   version = 0x100B
//   [rule]
//   name = 掲示板
//   level = 2
//   pattern = ^■ 掲示板 \f\d+: .+\f  （
//   title = \1
//   [comment]
//   text = デモＢＢＳ用%0D%0A
//
// Sections: "[system 0]".."[system 2]" (the file's first three records,
// only the keys where they differ from the empty syntax's), "[rule]" per
// record in file order, "[message]" per message rule, "[index]" per index
// definition, "[comment]".  Keys before the first section: version,
// old-records, old-search (header counts), magic.tail, trailing.
//
// Keys of a rule: name, level, pattern, variable, exit, covers (351), b352,
// b355, alternative, message, options (two bytes), runtime, title; and only
// where they differ from what compiling derives: pattern-lines (354,
// CountCR + 1), title-lines (353, the title's line reach), library (484, the
// pattern without "\f").  A template that does not decompile exactly is
// written as "title:hex".  FIELD.tail = HEX gives non-zero bytes after a
// string's NUL.  Keys of a message rule: kind, number, has-date, date,
// has-parent, parent, up-arrow, unused:hex.  Keys of an index: name, tags
// (program tag numbers, 4 = the first rule), count (when not the number of
// tags listed), tags.tail.
//
// Values are UTF-8 with %XX for control bytes, "%", blanks at either edge
// and bytes that have no Unicode form.  Blank lines and lines starting with
// "#" are ignored.
//
// dump then compile gives a 0x100B file back byte for byte; an older file is
// dumped converted (in file order and numbering), so compiling upgrades it.
#pragma once

#include <string>

#include "stock/tagmaker.h"

// The text form of file data (ParseTagFile's).
std::string DumpTagText(const TAGFILEDATA& data);
// The syntax as loading holds it (tag numbers of the program, the quotation
// slot included), each rule with "tag" and "aftag"; not meant to compile.
std::string DumpLoadedSyntax();
// Reads a text form.  False with "line N: why" in *error.
bool CompileTagText(const std::string& text, TAGFILEDATA* data, std::string* error);

// Value encoding of Shift_JIS bytes (exposed for tests).
std::string EncodeTagValue(const std::string& sjis);
bool DecodeTagValue(const std::string& utf8, std::string* sjis, std::string* error);
