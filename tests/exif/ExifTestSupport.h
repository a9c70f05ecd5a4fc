// Helpers of the EXIF reader tests: the committed real blocks of tests/exif/corpus/ (made by
// make-corpus.sh with exiftool), the host's calling convention (8 bytes of room in front), a
// collector of the reader's warnings and a small builder of hand-made TIFF blocks for the
// structural cases. Used natively and under Wine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imagefiles/ExifReader.h"

namespace exiftest
{

using Bytes = std::vector<unsigned char>;

// A path of the source tree that the test program can open (Wine maps the Unix root to Z:).
inline std::string SourcePath(const std::string& relative)
{
    std::string path = std::string(HPX_SOURCE_DIR) + "/" + relative;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
    return path;
}

inline Bytes ReadFile(const std::string& path)
{
    Bytes data;
    if (FILE* f = std::fopen(path.c_str(), "rb"))
    {
        unsigned char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return data;
}

// The EXIF data of a corpus block, as the host's handle holds it.
inline Bytes CorpusBlock(const std::string& name)
{
    return ReadFile(SourcePath("tests/exif/corpus/" + name + ".exif"));
}

// Warnings of the parses run while an instance lives.
class WarningLog
{
public:
    WarningLog()
    {
        m_previous = SetExifWarningSink(&WarningLog::Collect);
        Messages().clear();
    }
    ~WarningLog() { SetExifWarningSink(m_previous); }
    const std::vector<std::string>& All() const { return Messages(); }
    bool Has(const std::string& part) const
    {
        for (const std::string& m : Messages())
            if (m.find(part) != std::string::npos) return true;
        return false;
    }

private:
    static std::vector<std::string>& Messages()
    {
        static std::vector<std::string> messages;
        return messages;
    }
    static void Collect(const char* message) { Messages().push_back(message); }
    ExifWarningSink m_previous;
};

// Runs the reader the way the main window does: size + 8 bytes, the handle's bytes behind 8
// leading bytes, a zeroed record. The buffer is exactly as long as the length says, so a read
// past it is caught by AddressSanitizer.
inline ExifInfo Parse(const Bytes& handle)
{
    std::vector<unsigned char> buffer(handle.size() + 8, 0xEE);
    std::copy(handle.begin(), handle.end(), buffer.begin() + 8);
    ExifInfo info = {};
    ReadExifBlock(&info, buffer.data(), int32_t(buffer.size()));
    return info;
}

// Offset of the entry with the tag in a real block (IFD0, the Exif directory, IFD1 and the
// Canon maker note are searched), or 0. Tests patch real blocks through it.
inline size_t FindEntry(const Bytes& b, uint16_t tag)
{
    bool mm = b.size() > 1 && b[0] == 'M';
    auto u16 = [&](size_t at, bool m) -> uint32_t {
        return at + 2 > b.size() ? 0 : m ? (b[at] << 8) | b[at + 1] : b[at] | (b[at + 1] << 8);
    };
    auto u32 = [&](size_t at, bool m) -> uint32_t
    {
        if (at + 4 > b.size()) return 0;
        return m ? (uint32_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3]
                 : (uint32_t(b[at + 3]) << 24) | (b[at + 2] << 16) | (b[at + 1] << 8) | b[at];
    };
    std::vector<std::pair<size_t, bool>> dirs = {{u32(4, mm), mm}};
    for (size_t k = 0; k < dirs.size() && k < 8; ++k)
    {
        size_t d = dirs[k].first;
        bool m = dirs[k].second;
        uint32_t n = u16(d, m);
        for (uint32_t i = 0; i < n; ++i)
        {
            size_t e = d + 2 + 12 * i;
            uint32_t t = u16(e, m);
            if (t == tag) return e;
            if (t == 0x8769) dirs.push_back({u32(e + 8, m), m});
            if (t == 0x927C) dirs.push_back({u32(e + 8, m), false});  // Canon: Intel order
        }
        uint32_t next = u32(d + 2 + 12 * n, m);
        if (next) dirs.push_back({next, m});
    }
    return 0;
}

// Hand-made TIFF blocks: header, then whatever the test puts where.
class TiffBuilder
{
public:
    explicit TiffBuilder(bool motorola, uint32_t firstDirectory = 8, size_t size = 8) : m_motorola(motorola)
    {
        m_bytes.assign(size < 8 ? 8 : size, 0);
        m_bytes[0] = m_bytes[1] = motorola ? 'M' : 'I';
        Put16(2, 42);
        Put32(4, firstDirectory);
    }
    void Put16(size_t at, uint32_t v)
    {
        Grow(at + 2);
        if (m_motorola)
        {
            m_bytes[at] = uint8_t(v >> 8);
            m_bytes[at + 1] = uint8_t(v);
        }
        else
        {
            m_bytes[at] = uint8_t(v);
            m_bytes[at + 1] = uint8_t(v >> 8);
        }
    }
    void Put32(size_t at, uint32_t v)
    {
        Grow(at + 4);
        for (int i = 0; i < 4; ++i) m_bytes[at + i] = uint8_t(v >> (m_motorola ? 24 - 8 * i : 8 * i));
    }
    void PutBytes(size_t at, const void* data, size_t n)
    {
        Grow(at + n);
        const unsigned char* p = static_cast<const unsigned char*>(data);
        std::copy(p, p + n, m_bytes.begin() + at);
    }
    struct Entry
    {
        uint16_t tag, format;
        uint32_t count, value;  // value: the 4 inline bytes as a number, or an offset
    };
    // A directory at `at` with its entries and next link; returns the offset just behind it.
    size_t Directory(size_t at, const std::vector<Entry>& entries, uint32_t next = 0)
    {
        Put16(at, uint32_t(entries.size()));
        size_t p = at + 2;
        for (const Entry& e : entries)
        {
            Put16(p, e.tag);
            Put16(p + 2, e.format);
            Put32(p + 4, e.count);
            // A short inline value sits in the first bytes of the field, in the block's order.
            if (e.format == kExifShort && e.count == 1)
            {
                Put16(p + 8, e.value);
                Put16(p + 10, 0);
            }
            else
            {
                Put32(p + 8, e.value);
            }
            p += 12;
        }
        Put32(p, next);
        return p + 4;
    }
    Bytes& bytes() { return m_bytes; }

private:
    void Grow(size_t n)
    {
        if (m_bytes.size() < n) m_bytes.resize(n, 0);
    }
    bool m_motorola;
    Bytes m_bytes;
};

}  // namespace exiftest
