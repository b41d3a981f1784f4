// The script language's messages to the user, by their string-table number.
#pragma once

namespace scriptmsg {

enum : int {
  FILE_READ = 15,           // a read of the script file failed
  NO_MEMORY = 28,
  EDITOR_FAILED = 35,
  NEST_LIMIT = 40,          // a 21st level
  SYNTAX = 41,
  LOAD_FAILED = 42,         // followed by the file name
  LOG_FAILED = 43,
  EMPTY = 44,
  NO_ENDIF = 45,
  NO_LOOP_TO_BREAK = 46,
  NO_LOOP_TO_CLOSE = 47,
  NO_LABEL = 48,
  LABEL_TWICE = 49,
  NO_CALL_FILE = 50,
  EXTRA_BEFORE_CASE = 65,
  NO_CASE = 66,
  NO_ENDSWITCH = 64,
  CANNOT_RUN = 70,
  STRING_ARITHMETIC = 80,
  VALUE_AFTER_STRING = 81,
  BRACKETS = 82,
  EXPRESSION = 84,
  WATCHDOG_STOP = 87,
  WATCHDOG_ASK = 92,
  LABEL_BUFFER_FULL = 94,
  CODE_BUFFER_FULL = 95,
  LOOP_NEST_LIMIT = 96,
  WHILE_MISMATCH = 97,
  SUBSCRIPT = 99,
  VARIABLE_MEMORY = 100,
  NO_SETPORTNO = 117,
  CONNECT_ONLINE = 128,
  // Texts this program adds.
  LITERAL_TOO_LONG = 200,
  NOT_YET = 201,            // preceded by the keyword
  PARAMETER = 202,          // preceded by the keyword
};

// The text of a message (UTF-8), empty for an unknown number.
const char* Text(int id);

}  // namespace scriptmsg
