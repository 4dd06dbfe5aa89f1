// CXML_Element::Parse over a document held in memory, both with and without kept white space.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "kt_xml.h"
#include "xml_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (int keepWhitespace = 0; keepWhitespace < 2; ++keepWhitespace) {
        long long parsedSize = -1;
        CXML_Element *root =
            CXML_Element::Parse(data, static_cast<unsigned>(size), keepWhitespace, &parsedSize);
        if (!root)
            continue;
        if (parsedSize < 0 || static_cast<unsigned long long>(parsedSize) > size)
            __builtin_trap(); // the root cannot end outside the buffer
        (void)FuzzSupport::walkAndCompose(root);
        delete root;
    }
    return 0;
}
