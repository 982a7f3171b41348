#pragma once
// The analysis command: help screen, argument checks and the per-file pipeline.
namespace brisvane {

// The whole command: help screen without arguments, otherwise parameter checks and the
// analysis of one file or of a numbered batch. Returns 0 after the help screen or the
// batch (whatever per-file errors were printed), -1 (exit status 255) on argument errors.
// Modifies argv in place: consumed "--NAME=value" elements get "*" as first character and
// batch mode rewrites the index field of every file name.
int brisvanemain(int argc, char** argv);
// Prints the help screen on standard output; returns 0.
int plothelp();
// Prints the short bad-arguments complaint on standard output; returns 0.
int argcerror();

}  // namespace brisvane
