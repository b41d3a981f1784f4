// Hooks the backup offer into the program: the offer after each hang-up
// (unless a script still runs: its end offers it) and after a script's last
// level has ended off line, chaining the hooks set before; the manual backup
// command in `stockMenu` (may be null); and what follows a deletion (the
// terminal's view and cursor on the newest line, the tree built again).
// Without a window it installs nothing, so a headless run never offers.
#pragma once

class QMenu;
class QWidget;

void InstallBackupOffer(QWidget* window, QMenu* stockMenu);

// After lines were deleted off line: the screen starts again from the newest
// line, the scrollable range from the oldest, and a built tree is rebuilt.
void ShowNewestAfterDelete();
