// Commands whose modules are not yet part of the program: each does nothing
// until its own file takes its place here. Every command now has its file.
