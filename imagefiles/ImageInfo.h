// The image information strings: seven short wide texts describing the document's capture
// (aperture, exposure time, resolution, ISO speed, camera make, camera model, date).
//
// Filled from the host's EXIF block (FormatExifInfoStrings, imagefiles/ExifReader.h) or from an
// image file's metadata (ReadImageFile, imagefiles/ImageFile.h); shown by the parameter panel, which
// also picks the camera/ISO profile from the make, model and ISO texts. Portable code.
#pragma once

#include <cstring>

struct ImageInfoStrings
{
    // Slots, in this order.
    enum Slot
    {
        kAperture = 0,
        kExposure = 1,
        kResolution = 2,
        kIso = 3,
        kMake = 4,
        kModel = 5,
        kDate = 6
    };
    static constexpr int kCount = 7;
    static constexpr int kLength = 128;  // characters per slot, terminating NUL included

    wchar_t m_wcsText[kCount][kLength];

    // Zeroes all seven strings; every writer calls it first.
    void Clear() { std::memset(m_wcsText, 0, sizeof m_wcsText); }

    wchar_t* operator[](int slot) { return m_wcsText[slot]; }
    const wchar_t* operator[](int slot) const { return m_wcsText[slot]; }

    // True when every slot is empty.
    bool IsEmpty() const
    {
        for (int i = 0; i < kCount; ++i)
            if (m_wcsText[i][0] != 0) return false;
        return true;
    }
};
