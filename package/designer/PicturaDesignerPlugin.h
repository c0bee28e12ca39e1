// The Qt Designer plugin: every component class registered by the loaded packages, on its palette page.
#pragma once

#include <pictura/Registry.h>

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QObject>

// One registered control class as Designer sees it: name, group (the palette page), icon (the palette
// image), header and a factory. Everything comes from the class's registration.
class TRegisteredWidget : public QObject, public QDesignerCustomWidgetInterface {
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)
public:
    TRegisteredWidget(const TComponentClass* Class, const QString& Page, QObject* Parent = nullptr);

    QString name() const override;
    QString group() const override;
    QString toolTip() const override;
    QString whatsThis() const override;
    QString includeFile() const override;
    QIcon icon() const override;
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* Parent) override;
    QString domXml() const override;

private:
    const TComponentClass* FClass;
    QString FPage;
};

// The plugin's entry: loads the packages (PICTURA_DESIGNER_PACKAGES, a path list, or PicturaPck next
// to the plugin), runs their registration and offers every registered control.
class TPicturaDesignerCollection : public QObject, public QDesignerCustomWidgetCollectionInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
    Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)
public:
    explicit TPicturaDesignerCollection(QObject* Parent = nullptr);

    QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return FWidgets; }

private:
    QList<QDesignerCustomWidgetInterface*> FWidgets;
};
