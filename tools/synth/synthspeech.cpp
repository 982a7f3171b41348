#include "tools/synth/synthspeech.h"

namespace brisvane::synth {}
