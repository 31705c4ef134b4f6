# Tests of the command area.
