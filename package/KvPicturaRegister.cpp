#include <pictura/KvPicturaRegister.h>

#include <pictura/KvPictura.h>
#include <pictura/PicturaPckResources.h>

namespace KvPictura {

constinit const TComponentClass TKvPicturaClass =
    ComponentClassOf<TKvPictura>("KvPictura", &PicturaPckResources);

void Register() {
    RegisterComponents("Kelvora", {&TKvPicturaClass});
}

} // namespace KvPictura
