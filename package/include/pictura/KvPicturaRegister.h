// The KvPictura unit's registration with form designers.
#pragma once

#include <pictura/PicturaPckExport.h>
#include <pictura/Registry.h>

namespace KvPictura {

// The metaclass of TKvPictura: its meta-object, its unit, its factory and the resources holding its
// palette image.
extern PICTURAPCK_EXPORT const TComponentClass TKvPicturaClass;

// Puts TKvPictura, and nothing else, on the palette page "Kelvora". Designers call it when they
// install the package; programs that use the control never need to.
PICTURAPCK_EXPORT void Register();

} // namespace KvPictura
