#include <pictura/Registry.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace {

struct TRegisteredClass {
    const TComponentClass* Class;
    const void* ModuleBase; // load address of the module holding the metaclass (nullptr if unknown)
};

struct TPalettePage {
    std::string Name;
    std::vector<TRegisteredClass> Classes;
};

std::vector<TPalettePage>& Pages() {
    static std::vector<TPalettePage> pages;
    return pages;
}

const void* ModuleBaseOf(const void* Address) {
    Dl_info info{};
    return dladdr(Address, &info) ? info.dli_fbase : nullptr;
}

// The page holding a class named ClassName, and the class, or {nullptr, nullptr}.
std::pair<TPalettePage*, const TComponentClass*> Lookup(const char* ClassName) {
    for (TPalettePage& page : Pages())
        for (const TRegisteredClass& entry : page.Classes)
            if (std::strcmp(entry.Class->ClassName(), ClassName) == 0) return {&page, entry.Class};
    return {nullptr, nullptr};
}

std::string UpperCaseAscii(std::string Text) {
    for (char& c : Text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return Text;
}

} // namespace

void RegisterComponents(const std::string& Page, std::initializer_list<const TComponentClass*> Classes) {
    RegisterComponents(Page, std::vector<const TComponentClass*>(Classes));
}

void RegisterComponents(const std::string& Page, const std::vector<const TComponentClass*>& Classes) {
    if (Page.empty()) throw EComponentError("cannot register components on a palette page without a name");
    // Check every class first, so that a failed call registers nothing.
    std::vector<const TComponentClass*> added;
    for (const TComponentClass* cls : Classes) {
        if (!cls || !cls->MetaObject || !cls->Create)
            throw EComponentError("cannot register an incomplete component class on page \"" + Page + "\"");
        if (std::find(added.begin(), added.end(), cls) != added.end()) continue;
        const auto [page, existing] = Lookup(cls->ClassName());
        const bool nameTakenInCall = std::any_of(added.begin(), added.end(), [&](const TComponentClass* a) {
            return std::strcmp(a->ClassName(), cls->ClassName()) == 0;
        });
        if (existing == cls && page->Name == Page) continue;
        if (existing == cls)
            throw EComponentError(std::string("component class ") + cls->ClassName() +
                                  " is already registered on page \"" + page->Name + "\"");
        if (existing || nameTakenInCall)
            throw EComponentError(std::string("a different component class named ") + cls->ClassName() +
                                  " is already registered");
        added.push_back(cls);
    }
    if (added.empty()) return; // no page is created without a class to show on it
    auto page =
        std::find_if(Pages().begin(), Pages().end(), [&](const TPalettePage& p) { return p.Name == Page; });
    if (page == Pages().end()) page = Pages().insert(Pages().end(), TPalettePage{Page, {}});
    for (const TComponentClass* cls : added)
        page->Classes.push_back(TRegisteredClass{cls, ModuleBaseOf(cls)});
}

std::vector<std::string> ComponentPages() {
    std::vector<std::string> names;
    for (const TPalettePage& page : Pages())
        names.push_back(page.Name);
    return names;
}

std::vector<const TComponentClass*> ComponentsOnPage(const std::string& Page) {
    std::vector<const TComponentClass*> classes;
    for (const TPalettePage& page : Pages())
        if (page.Name == Page)
            for (const TRegisteredClass& entry : page.Classes)
                classes.push_back(entry.Class);
    return classes;
}

std::string ComponentPage(const TComponentClass* Class) {
    if (!Class) return {};
    const auto [page, existing] = Lookup(Class->ClassName());
    return existing == Class ? page->Name : std::string();
}

const TComponentClass* FindComponentClass(const std::string& ClassName) {
    return Lookup(ClassName.c_str()).second;
}

void UnregisterModuleClasses(const void* Address) {
    const void* base = ModuleBaseOf(Address);
    if (!base) return;
    for (TPalettePage& page : Pages())
        std::erase_if(page.Classes, [&](const TRegisteredClass& entry) { return entry.ModuleBase == base; });
    std::erase_if(Pages(), [](const TPalettePage& page) { return page.Classes.empty(); });
}

TBitmap PaletteImage(const TComponentClass& Class) {
    const std::string name = UpperCaseAscii(Class.ClassName());
    if (!FindResource(Class.Resources, RT_BITMAP, name)) return TBitmap();
    return LoadBitmapResource(Class.Resources, name);
}
