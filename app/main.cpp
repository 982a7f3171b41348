#include "app/brisvane.h"

int main(int argc, char** argv) { return brisvane::brisvanemain(argc, argv); }
