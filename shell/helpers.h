// Helpers shared by every subsystem.  The messages to the user (MyMessageBox,
// ErrorMessage, NotEnoughMemory, the string-table texts) sit in
// platform/usermessage.h, low enough for the stock to use; this header keeps
// them in reach of the shell and the layers above it.
#pragma once

#include "platform/usermessage.h"
