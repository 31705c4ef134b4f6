# Fuzz harnesses of the command area.
