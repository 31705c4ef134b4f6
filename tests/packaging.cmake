# Tests of the packaging area.
