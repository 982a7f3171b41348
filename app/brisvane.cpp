#include "app/brisvane.h"

#include <cstdio>

namespace brisvane {

int plothelp() { return 0; }
int argcerror() { return 0; }
int brisvanemain(int, char**) { return 0; }

}  // namespace brisvane
