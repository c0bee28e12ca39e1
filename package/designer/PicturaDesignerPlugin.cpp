#include "PicturaDesignerPlugin.h"

#include <pictura/Image.h>
#include <pictura/Packages.h>

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <dlfcn.h>

namespace {

QString PluginDirectory() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&PluginDirectory), &info) || !info.dli_fname) return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
}

// The packages to load: the user's list, else the first PicturaPck found (installed, then build tree).
QStringList PackageFiles() {
    const QString userList = qEnvironmentVariable("PICTURA_DESIGNER_PACKAGES");
    if (!userList.isEmpty()) return userList.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    const QString candidates[] = {
        QDir(PluginDirectory()).filePath(QStringLiteral(PICTURA_PACKAGE_FROM_PLUGIN)),
        QStringLiteral(PICTURA_PACKAGE_BUILD_FILE)};
    for (const QString& file : candidates)
        if (QFileInfo::exists(file)) return {QDir::cleanPath(file)};
    return {};
}

// Palette images are drawn on a background whose colour is that of the bottom-left pixel; it is
// made transparent so that the icon sits on Designer's own background.
QPixmap PalettePixmap(const TBitmap& Bitmap) {
    const QImage image = TImage::ApplyTransparentColour(Bitmap.ToQImage());
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

} // namespace

TRegisteredWidget::TRegisteredWidget(const TComponentClass* Class, const QString& Page, QObject* Parent)
    : QObject(Parent), FClass(Class), FPage(Page) {}

QString TRegisteredWidget::name() const {
    return QString::fromLatin1(FClass->ClassName());
}

QString TRegisteredWidget::group() const {
    return FPage;
}

QString TRegisteredWidget::toolTip() const {
    return name();
}

QString TRegisteredWidget::whatsThis() const {
    return QStringLiteral("%1 (unit %2, palette page %3)")
        .arg(name(), QString::fromLatin1(FClass->UnitName), FPage);
}

QString TRegisteredWidget::includeFile() const {
    // Installed headers live in one folder and are included through it.
    return QStringLiteral("pictura/") + QString::fromLatin1(FClass->UnitName) + QStringLiteral(".h");
}

QIcon TRegisteredWidget::icon() const {
    try {
        const QPixmap pixmap = PalettePixmap(PaletteImage(*FClass));
        return pixmap.isNull() ? QIcon() : QIcon(pixmap);
    } catch (const std::exception& error) {
        qWarning("Pictura Designer plugin: %s: %s", FClass->ClassName(), error.what());
        return QIcon();
    }
}

QWidget* TRegisteredWidget::createWidget(QWidget* Parent) {
    try {
        TComponent* component = FClass->Create(Parent);
        if (auto* control = qobject_cast<TControl*>(component)) control->SetDesigning(true);
        if (QWidget* widget = qobject_cast<QWidget*>(component)) return widget;
        delete component;
    } catch (const std::exception& error) {
        qWarning("Pictura Designer plugin: cannot create %s: %s", FClass->ClassName(), error.what());
    }
    return nullptr;
}

QString TRegisteredWidget::domXml() const {
    // The default object name is the class name without its T, starting in lower case: kvPictura.
    QString objectName = name();
    if (objectName.size() > 1 && objectName.startsWith(QLatin1Char('T'))) objectName.remove(0, 1);
    objectName[0] = objectName[0].toLower();
    return QStringLiteral("<ui language=\"c++\">\n"
                          " <widget class=\"%1\" name=\"%2\">\n"
                          "  <property name=\"geometry\">\n"
                          "   <rect><x>0</x><y>0</y><width>100</width><height>100</height></rect>\n"
                          "  </property>\n"
                          " </widget>\n"
                          "</ui>\n")
        .arg(name(), objectName);
}

TPicturaDesignerCollection::TPicturaDesignerCollection(QObject* Parent) : QObject(Parent) {
    const QStringList files = PackageFiles();
    if (files.isEmpty()) qWarning("Pictura Designer plugin: no package found; set PICTURA_DESIGNER_PACKAGES");
    for (const QString& file : files) {
        try {
            RegisterPackage(LoadPackage(file.toStdString()));
        } catch (const std::exception& error) {
            qWarning("Pictura Designer plugin: %s", error.what());
        }
    }
    for (const std::string& page : ComponentPages())
        for (const TComponentClass* cls : ComponentsOnPage(page))
            if (cls->IsControl())
                FWidgets.append(new TRegisteredWidget(cls, QString::fromStdString(page), this));
}
