// ANSI code page layer (placeholder).
#include "codepage.h"
