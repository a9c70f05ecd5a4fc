// libFuzzer target of the EXIF reader: the input is the host's EXIF handle content, passed the
// way the main window passes it (8 bytes of room in front), then formatted into the strings.
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagefiles/ExifReader.h"

namespace
{
void Quiet(const char* message)
{
    // Every warning is a real, terminated text.
    if (!message || std::strlen(message) >= 256) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool installed = (SetExifWarningSink(&Quiet), true);
    (void)installed;
    if (size > (1u << 20)) return 0;
    std::vector<unsigned char> buffer(size + 8);
    if (size) std::memcpy(buffer.data() + 8, data, size);
    ExifInfo info = {};
    ReadExifBlock(&info, buffer.data(), int32_t(buffer.size()));
    if (info.make[31] || info.model[39] || info.dateTime[19]) __builtin_trap();
    ImageInfoStrings strings;
    FormatExifInfoStrings(&strings, info);
    for (int i = 0; i < ImageInfoStrings::kCount; ++i)
        if (strings[i][ImageInfoStrings::kLength - 1] != 0) __builtin_trap();
    return 0;
}
