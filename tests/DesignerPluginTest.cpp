// The Qt Designer plugin, loaded as Designer loads it: what it offers and what its widgets are.
#include "WorkingControl.h"
#include <pictura/Packages.h>

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>

#include <QDomDocument>
#include <QPluginLoader>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The plugin's collection, loaded once for the whole program as Designer does.
QDesignerCustomWidgetCollectionInterface* Collection() {
    static QPluginLoader loader(PICTURA_DESIGNER_PLUGIN);
    QObject* instance = loader.instance();
    EXPECT_NE(instance, nullptr) << loader.errorString().toStdString();
    return qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
}

QDesignerCustomWidgetInterface* OnlyWidget() {
    QDesignerCustomWidgetCollectionInterface* collection = Collection();
    if (!collection) return nullptr;
    const QList<QDesignerCustomWidgetInterface*> widgets = collection->customWidgets();
    EXPECT_EQ(widgets.size(), 1);
    return widgets.isEmpty() ? nullptr : widgets.first();
}

} // namespace

TEST(DesignerPlugin, OffersTKvPicturaOnKelvoraWithItsPaletteImage) {
    QDesignerCustomWidgetInterface* widget = OnlyWidget();
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->name(), "TKvPictura");
    EXPECT_EQ(widget->group(), "Kelvora");
    EXPECT_EQ(widget->includeFile(), "pictura/KvPictura.h");
    EXPECT_FALSE(widget->isContainer());
    const QIcon icon = widget->icon();
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(24, 24)});
    const QImage image = icon.pixmap(24, 24).toImage();
    EXPECT_EQ(qAlpha(image.pixel(0, 23)), 0) << "the background shows through";
    EXPECT_EQ(qAlpha(image.pixel(12, 12)), 255) << "the picture does not";

    QDomDocument dom;
    ASSERT_TRUE(dom.setContent(widget->domXml()));
    const QDomElement element = dom.documentElement().firstChildElement("widget");
    EXPECT_EQ(element.attribute("class"), "TKvPictura");
    EXPECT_EQ(element.attribute("name"), "kvPictura");
    ASSERT_NE(FindPackage("PicturaPck"), nullptr) << "the plugin loads the package through the loader";
}

TEST(DesignerPlugin, CreatesWorkingControls) {
    QDesignerCustomWidgetInterface* widget = OnlyWidget();
    ASSERT_NE(widget, nullptr);
    QWidget form;
    QWidget* control = widget->createWidget(&form);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), &form);
    ExpectWorkingControl(control);
}

// An empty control is outlined, dashed, in Designer only: the plugin's control shows dark pixels on its
// border with gaps between them, the same control made by a program shows none.
TEST(DesignerPlugin, OutlinesEmptyControlsAtDesignTimeOnly) {
    QDesignerCustomWidgetInterface* widget = OnlyWidget();
    ASSERT_NE(widget, nullptr);
    QWidget form;
    std::unique_ptr<QWidget> designed(widget->createWidget(&form));
    ASSERT_NE(designed, nullptr);
    TKvPictura running(&form);
    const auto darkOnTopEdge = [](QWidget* Control) {
        Control->resize(40, 30);
        const QImage image = Control->grab().toImage();
        int dark = 0;
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, 0)) < 64;
        return dark;
    };
    const int designedDark = darkOnTopEdge(designed.get());
    EXPECT_GT(designedDark, 10);
    EXPECT_LT(designedDark, 40) << "the outline is dashed";
    EXPECT_EQ(darkOnTopEdge(&running), 0);
}
