// The permanent variables hooked into the program: the variable file is
// loaded at start-up and written within a second of a change to a "%"
// variable (one write for any number of changes in that second), when the
// outermost script level ends and at shutdown.
#pragma once

#include <string>

// Loads the file (empty: varfile::DefaultPath()) and arms the saving.
void InstallPermanentVariables(const std::string& path = {});
// Writes what is unsaved now (shutdown).
void SavePermanentVariablesNow();
