// The clean_replace command: options, opening the table, the counting pass, the column storage
// and the filter pass.
#pragma once

namespace clean_replace {

// What --help prints, with %s for the program's name as it was called.
extern const char *const kHelpText;

// Runs the command on its arguments and returns the exit status.
int runCommand(int argc, char **argv);

}  // namespace clean_replace
