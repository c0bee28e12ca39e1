// What a picture file holds besides its pixels, carried from the file read to the files written.
#pragma once

#include <pictura/Vcl40Export.h>

#include <string>

struct VCL40_EXPORT TPictureMetadata {
    std::string Exif; // the EXIF block as a TIFF structure ("II*\0..." or "MM\0*..."), empty if none
    std::string Xmp;  // the XMP packet (XML text), empty if none
    std::string Icc;  // the ICC colour profile's bytes, empty if none
    double DotsPerMeterX = 0, DotsPerMeterY = 0; // the resolution, 0 when the file gives none
    int SourceBitsPerSample = 8; // bits per channel in the file read; the bitmap holds at most 8

    bool Empty() const {
        return Exif.empty() && Xmp.empty() && Icc.empty() && DotsPerMeterX <= 0 && DotsPerMeterY <= 0;
    }
    // The EXIF orientation (1..8: 1 upright, 6 turned right, 8 turned left, ...); 1 when absent or invalid.
    int Orientation() const;
    // Sets the EXIF orientation tag where the EXIF block has one (as after rotating the pixels upright).
    void SetOrientation(int Value);
};
