#include "KvPicturaRegister.h"

#include "KvPictura.h"
#include "PicturaPckResources.h"

namespace KvPictura {

constinit const TComponentClass TKvPicturaClass =
    ComponentClassOf<TKvPictura>("KvPictura", &PicturaPckResources);

void Register() {
    RegisterComponents("Kelvora", {&TKvPicturaClass});
}

} // namespace KvPictura
