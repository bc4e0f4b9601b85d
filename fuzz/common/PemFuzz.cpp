// The armoured-block scanner on its own: every block it finds lies inside the text, and the scan
// is linear whatever the markers.
#include "platform/common/Pem.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    pem::ForEachBlock(text, [&](const pem::Block& block) {
        const auto inside = [&](std::string_view part) {
            return part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size();
        };
        if (!inside(block.Label) || !inside(block.Body) || block.Label.empty())
            std::abort();
    });
    return 0;
}
