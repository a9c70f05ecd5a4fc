// File-name rules of open, save, folder stepping and the batch: which names count as image files
// and which save type a name's extension gives.
#pragma once

#include <cstddef>

// The name's text from its last '.' is ".bmp", ".gif", ".jpg", ".tif" or ".png" (any case): the
// files that folder stepping visits and the batch counts.
bool HasImageFileExtension(const wchar_t* name);

// Whether the batch takes the file: its name ends in a type the batch can write it back as
// (".bmp", ".tif", ".tiff", ".png", ".jpg", ".jpeg", any case). Others (a camera's raw file, a
// GIF, a TGA) are passed over before they are read; the batch's total counts the same names.
bool IsBatchPhotoName(const wchar_t* name);

// The types an image can be saved as; the numbers are the save dialog's filter index, so they
// stay as they are.
enum SaveType : int
{
    kSaveNone = 0,
    kSaveBmp = 1,
    kSaveTiff = 2,
    kSavePng = 3,
    kSaveJpeg = 4
};

// The type the name ends in, among those an image of the depth can be saved as (8 bits: all
// four, 16 bits: TIFF and PNG): its last four characters compared with ".bmp", ".tif", ".png",
// ".jpg", and, when longFormsToo, its last five with ".tiff" and ".jpeg".
SaveType SaveTypeOfName(const wchar_t* name, int bits, bool longFormsToo);
// ".bmp", ".tif", ".png", ".jpg" of a type.
const wchar_t* SaveTypeExtension(SaveType type);
// The FreeImage format of a type.
int SaveTypeFormat(SaveType type);
