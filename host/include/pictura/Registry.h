// The component palette: classes that packages register on named pages, for form designers to offer.
//
// Registration is data. A package describes each class once, as a constant TComponentClass, and its
// Register procedure hands the list to RegisterComponents (package/KvPicturaRegister.cpp):
//
//     constinit const TComponentClass TKvPicturaClass =
//         ComponentClassOf<TKvPictura>("KvPictura", &PicturaPckResources);
//     void Register() { RegisterComponents("Kelvora", {&TKvPicturaClass}); }
//
// The registry is used from the GUI thread only.
#pragma once

#include <pictura/Bitmap.h>
#include <pictura/Controls.h>
#include <pictura/Resources.h>
#include <pictura/SysUtils.h>

#include <QMetaObject>

#include <initializer_list>
#include <string>
#include <vector>

// A registration that the palette cannot accept (an empty page name, a null class, a name clash).
class EComponentError : public Exception {
    using Exception::Exception;
};

// The framework's metaclass: what a designer needs to know of a component class without an instance.
struct TComponentClass {
    // The class's meta-object: its name, its base classes and its properties.
    const QMetaObject* MetaObject;
    // The unit that declares the class; the header that declares it is named after it (Unit + ".h").
    const char* UnitName;
    // Creates an instance owned by AOwner (for a control, AOwner also becomes its parent widget).
    TComponent* (*Create)(TComponent* AOwner);
    // The resources of the module that carries the class, where its palette image lives.
    const TResourceTable* Resources;

    // The class's name, for example "TKvPictura".
    const char* ClassName() const { return MetaObject->className(); }
    // True when instances are widgets that can be placed on a form.
    bool IsControl() const { return MetaObject->inherits(&QWidget::staticMetaObject); }
};

// The metaclass of T, a TComponent descendant whose constructor takes its owner.
template <class T>
constexpr TComponentClass ComponentClassOf(const char* UnitName, const TResourceTable* Resources) {
    return TComponentClass{&T::staticMetaObject, UnitName,
                           [](TComponent* AOwner) -> TComponent* { return new T(AOwner); }, Resources};
}

// Puts Classes on the palette page Page, creating the page on first use; classes keep the order of
// registration. Registering a class again on the same page changes nothing; registering it on another
// page, or a different class of the same name, raises EComponentError and registers none of Classes.
void RegisterComponents(const std::string& Page, std::initializer_list<const TComponentClass*> Classes);
void RegisterComponents(const std::string& Page, const std::vector<const TComponentClass*>& Classes);

// The palette pages, in the order in which they were first registered.
std::vector<std::string> ComponentPages();
// The classes on Page, in registration order (none for an unknown page).
std::vector<const TComponentClass*> ComponentsOnPage(const std::string& Page);
// The page a class is registered on (empty when it is not registered).
std::string ComponentPage(const TComponentClass* Class);
// The registered class named ClassName, or nullptr.
const TComponentClass* FindComponentClass(const std::string& ClassName);

// Removes every class whose metaclass lies in the module containing Address, and pages left empty.
// Called before a package is unloaded, so that the palette never refers to a closed module.
void UnregisterModuleClasses(const void* Address);

// The palette image of Class: the bitmap resource named after the class in capitals, from the class's
// own resources. An empty bitmap when the class carries none; EInvalidGraphic when it is damaged.
TBitmap PaletteImage(const TComponentClass& Class);
