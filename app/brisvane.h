#pragma once
// The analysis command: help screen, argument checks and the per-file pipeline.
namespace brisvane {

// The whole command: help screen without arguments, otherwise parameter checks and the
// analysis of one file or of a numbered batch. Returns 0 after the help screen or the
// batch (whatever per-file errors were printed), -1 (exit status 255) on argument errors.
// Modifies argv in place: consumed "--NAME=value" elements get "*" as first character and
// batch mode rewrites the index field of every file name.
int brisvanemain(int argc, char** argv);

// Processor time (std::clock, seconds) spent in each stage of the per-file pipeline,
// summed over every file of a run: reading the recording, the f0 track (estimation or
// loading), its harmonic refinement, the cepstral stream (with its final rescaling), the
// maximum voiced frequency (with its warping) and writing the output streams.
struct stagetimes {
  double read = 0.0;
  double pitch = 0.0;
  double refine = 0.0;
  double cepstrum = 0.0;
  double fv = 0.0;
  double write = 0.0;
};

// How brisvanemain computes. The command runs the default: the fast variants of the
// analysis routines, which give the same decisions and the same 32-bit outputs as the
// documented routines (up to the last bit of a float); reference = true runs the
// documented routines throughout. times, when not null, receives the stage times
// (added to what it holds).
struct pipelineoptions {
  bool reference = false;
  stagetimes* times = nullptr;
};

// The command as brisvanemain(argc, argv), with the arithmetic and timing chosen by opt.
int brisvanemain(int argc, char** argv, const pipelineoptions& opt);
// Prints the help screen on standard output; returns 0.
int plothelp();
// Prints the short bad-arguments complaint on standard output; returns 0.
int argcerror();

}  // namespace brisvane
