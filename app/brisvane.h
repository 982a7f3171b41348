#pragma once
// The analysis command: help screen, argument checks and the per-file pipeline.
namespace brisvane {

// The whole command; returns the process exit status (0, or 255 on argument errors).
int brisvanemain(int argc, char** argv);
int plothelp();
int argcerror();

}  // namespace brisvane
