// Replaced by the client logic.
