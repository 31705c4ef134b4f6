# Tests of the toolkit area.
