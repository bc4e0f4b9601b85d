// libFuzzer target: StgOpenStorage over arbitrary bytes, then every element, stream, property
// set and value. The bytes are handed over as an in-memory file.
#include "fuzz/ole32/Ole32Walk.h"

#include "platform/common/WinStr.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("ole32-fuzz", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const std::u16string path = winstr::FromUtf8("/proc/self/fd/" + std::to_string(fd));
    ole32walk::WalkFile(path.c_str());
    close(fd);
    return 0;
}
