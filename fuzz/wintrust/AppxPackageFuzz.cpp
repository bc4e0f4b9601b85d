// libFuzzer target for the app package's parsers without a signature in the way: the ZIP reader
// on the input, every entry read (stored or inflated), and AppxBlockMap.xml, when there is one,
// parsed and checked against the archive within the budget of a package of that size. Seeds:
// tests/fixtures/containers/appx.
#include "platform/wintrust/AppxSip.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

volatile uint8_t Sink = 0;
// What one input may inflate in all, so that an input stays within the second it may take; the
// parsers' own bounds are what is tested, not this.
constexpr uint64_t ReadBudget = 8 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("fuzz-appx", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const auto source = FileSource::FromDescriptor(fd);
    const auto archive = source ? zip::Archive::Open(*source) : std::nullopt;
    if (archive) {
        uint64_t budget = ReadBudget;
        for (const zip::Entry& entry : archive->Entries()) {
            const deflate::Status status = archive->Read(entry, 1 << 20, [&](std::span<const uint8_t> piece) {
                if (piece.size() > budget)
                    return false;
                budget -= piece.size();
                Sink = Sink + piece.front();
                return true;
            });
            Sink = Sink + static_cast<uint8_t>(status);
        }
        std::vector<uint8_t> xml;
        wintrust::BlockMap map;
        const zip::Entry* blockMap = archive->Find("AppxBlockMap.xml");
        if (blockMap && archive->ReadAll(*blockMap, 1 << 20, xml) == deflate::Status::Ok &&
            wintrust::ParseBlockMap(xml, map)) {
            uint64_t budget = wintrust::InflateBudget(size);
            Sink = Sink + static_cast<uint8_t>(wintrust::CheckBlockMap(*archive, map, budget));
        }
    }
    close(fd);
    return 0;
}
