// Keeps the library non-empty until its first family lands.
#include "kt_basic.h"
