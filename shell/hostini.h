// HOSTINI: the host list in the settings store, the host menu, and the host
// list backup file.
//
// Under the key "Config", the values "HostIndex0000", "HostIndex0001", ... hold
// the host names (Shift_JIS in memory) in list order; the first missing or
// empty one ends the list.  Each host's key "Host\" + name holds its record
// (HOSTPROPERTY) plus "Order" (its index) and "HostInMenu" (1: in the menu).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class INIFILE;

class HOSTINI {
 public:
  // The first line of a backup file (followed by CR LF).
  static const char* const kBackupHeader;
  // Menu commands of the host menu: HOSTMENU_BASE + the host's list index.
  enum : int { HOSTMENU_BASE = 200 };

  static bool GetHostName(int index, char* buf, size_t size);
  static int GetHostCount();
  static bool IsHostExist(const char* name);
  // Writes the list's index value and the host's "Order".
  static bool PutHostOrder(const char* name, int index);
  static int GetHostOrder(const char* name);
  static bool PutHostInMenuFlag(const char* name, int flag);
  static int IsHostInMenu(const char* name);
  // Deletes the host's key; with `compact`, every later host moves down one
  // place in the list (index values and "Order") and the last index value
  // goes.  All of it reaches the file together or not at all.
  static bool DeleteHost(const char* name, bool compact);
  static bool DeleteAllHost();
  // Appends a stored host to the end of the list with the given menu flag.
  static bool AppendHost(const char* name, int inMenu);

  // The host menu: one item per host with "HostInMenu", in list order.
  struct MenuItem {
    int command;       // HOSTMENU_BASE + list index
    std::string name;  // Shift_JIS
  };
  static std::vector<MenuItem> aHostMenu;
  // Rebuilds aHostMenu and tells the frame (pfnHostMenuChanged) to show it.
  static void SetHostMenu();
  static void (*pfnHostMenuChanged)();

  // Writes the backup file (through a temporary file).  False when it cannot
  // be written.
  static bool BackupHostList(const std::string& path);
  // Replaces the host list from a backup file.  The whole file is checked
  // first; on any fault the list stays as it was, false is returned and
  // nErrorLine holds the line at fault (0 when the file cannot be read).
  static bool RestoreHostList(const std::string& path);
  static int nErrorLine;
  // The same, telling the user about a failure with the fixed messages.
  static bool BackupHostListWithMessage(const std::string& path);
  static bool RestoreHostListWithMessage(const std::string& path);

  // The host list for the mirror file ("HostIndex0000"=name in "Quillnet").
  static void SaveHostListToQuillnetIni(INIFILE& ini);

  // Why a name (Shift_JIS) cannot be a host name, as the message to show, or
  // "" when it can.  With `mustBeNew` a name already in the list is refused.
  static std::string CheckHostName(const char* name, bool mustBeNew);
  // Whether the name is one of the three reserved names of ad hoc connections.
  static bool IsPseudoHost(const char* name);

  static void ResetForTest();
};
