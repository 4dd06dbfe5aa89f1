// Lookup of the table-driven character maps. No code page tables are built into this part of
// the library; the code page family supplies the real lookup in their place.
#include "kt_basic_utf.h"

CKT_CharMap *KT_GetCodePageCharMap(int)
{
    return nullptr;
}
