// Replaced by the console logic.
