// Public header of the base library: strings, XML, code pages, memory and arrays.
#ifndef KTCRT_KT_BASIC_H
#define KTCRT_KT_BASIC_H

#include "kt_codepage.h"

#endif // KTCRT_KT_BASIC_H
