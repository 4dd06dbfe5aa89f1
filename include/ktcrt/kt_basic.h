// Public header of the base library: strings, XML, code pages, memory and arrays.
#ifndef KTCRT_KT_BASIC_H
#define KTCRT_KT_BASIC_H

#include "kt_basic_def.h"
#include "kt_basic_mem.h"
#include "kt_basic_array.h"
#include "kt_basic_string.h"
#include "kt_basic_buffer.h"
#include "kt_basic_utf.h"
#include "kt_codepage.h"

#include "kt_xml.h"

#endif // KTCRT_KT_BASIC_H
