// PICTURAPCK_EXPORT: marks what the package library PicturaPck offers to programs: the control's unit
// (TKvPictura, FitinRange) and the package's registration. The same rule as VCL40_EXPORT
// (pictura/Vcl40Export.h): the public headers' classes and functions with code in the library, nothing
// internal (component/*.h). The package's entry points are exported by PICTURA_PACKAGE_ENTRY_POINTS
// (pictura/PackageDefinition.h).
#pragma once

#define PICTURAPCK_EXPORT __attribute__((visibility("default")))
