#include "script/script_menu_window.h"

#include "script/script_commands.h"
#include "script/script_error_dialog.h"
#include "script/script_frame_dialog.h"
#include "script/script_list_dialog.h"
#include "script/script_status_dialog.h"
#include "shell/frame_window.h"

void ScriptMenuCommand(FRAMEWINDOW* frame, int command) {
  switch (command) {
    case scriptcmd::EXEC: ExecScriptDialog(frame); break;
    case scriptcmd::EDIT: EditScriptDialog(frame); break;
    case scriptcmd::STATUS: ShowScriptStatus(frame); break;
    default: RunScriptCommand(command); break;
  }
}

void InstallScriptWindows(FRAMEWINDOW* frame) {
  frame->scriptCommand = [frame](int command) { ScriptMenuCommand(frame, command); };
  frame->scriptState = [] {
    const SCRIPTMENUSTATE s = ScriptMenuState();
    return std::pair<bool, bool>(s.running, s.paused);
  };
  frame->RefreshScriptMenu();
  InstallScriptErrorDialog(frame);
  InstallScriptDialogs(frame);
}
