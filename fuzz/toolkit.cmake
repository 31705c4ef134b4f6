# Fuzz harnesses of the toolkit area.
