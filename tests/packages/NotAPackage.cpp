// A library that links the PicturaPck package but is no package itself: it exports none of the
// package protocol's functions, although a symbol lookup through it finds the package's.
#include <pictura/KvPictura.h>

extern "C" int NotAPackageUsesTheControl() {
    TKvPictura picture;
    return picture.Width();
}
