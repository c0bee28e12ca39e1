// The resources that the PicturaPck package carries (generated from the files in package/ at build time).
#pragma once

#include <pictura/PicturaPckExport.h>
#include <pictura/Resources.h>

// Holds the bitmap "TKVPICTURA", the palette image of TKvPictura (24 x 24, 16 colours).
extern PICTURAPCK_EXPORT const TResourceTable PicturaPckResources;
