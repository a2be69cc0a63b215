// Replaced by the reports logic.
