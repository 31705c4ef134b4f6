# Tests of the arrays area.
