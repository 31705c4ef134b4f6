# Fuzz harnesses of the arrays area.
