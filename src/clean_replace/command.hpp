// The clean_replace command: options, opening the table, the counting pass, the column storage
// and the filter pass.
#pragma once

namespace clean_replace {

// Runs the command on its arguments and returns the exit status.
int runCommand(int argc, char **argv);

}  // namespace clean_replace
