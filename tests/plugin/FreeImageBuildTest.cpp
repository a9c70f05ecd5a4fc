// Checks of the FreeImage build we link: formats left out of it must still answer every
// question FreeImage asks its plug-ins, since FreeImage itself does not check the answers.
#include <windows.h>
#include <FreeImage.h>
#include <gtest/gtest.h>

TEST(FreeImageBuild, LookUpByNameOfUnknownAndLeftOutFormatsIsSafe)
{
    // Walks every plug-in's extension list, including the ones compiled out.
    EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"notes.txt"), FIF_UNKNOWN);
    EXPECT_EQ(FreeImage_GetFIFFromFilename("archive.zip"), FIF_UNKNOWN);
    EXPECT_EQ(FreeImage_GetFIFFromFilename("photo.JPG"), FIF_JPEG);
    EXPECT_EQ(FreeImage_GetFIFFromFilename("scan.tif"), FIF_TIFF);
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i)
    {
        const char* ext = FreeImage_GetFIFExtensionList(static_cast<FREE_IMAGE_FORMAT>(i));
        EXPECT_NE(ext, nullptr) << "format " << i << " has no extension list";
    }
}
