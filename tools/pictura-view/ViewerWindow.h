// TViewerWindow: the viewer's main window: menus and tool bar, the picture on a form in a scroll area,
// and a status bar with the file, its size and pixel format and the time of the last operation.
#pragma once

#include "OperationTable.h"
#include "RecentFiles.h"
#include "ViewerDocument.h"

#include <QHash>
#include <QMainWindow>

#include <functional>
#include <memory>

class QLabel;
class QScrollArea;
class QStackedWidget;
class TForm;
class TKvPictura;
class TOperationDialog;
class TOperationSession;
struct TParameter;

class TViewerWindow : public QMainWindow {
    Q_OBJECT
public:
    // Receives error reports: a short title and a message naming the file and the reason.
    using TErrorReporter = std::function<void(const QString& Title, const QString& Message)>;

    // Settings keeps the recent files (null: the application's own settings).
    explicit TViewerWindow(QSettings* Settings = nullptr, QWidget* Parent = nullptr);
    ~TViewerWindow() override;

    // Reads FileName through the control's picture. On failure an error box names the file and the
    // reason, and the picture shown stays as it was.
    bool OpenFile(const QString& FileName);
    // Writes the picture in the format FileName's extension names. On failure an error box names the
    // file and the reason; the picture and any existing file stay as they were.
    bool SaveFile(const QString& FileName);
    // Runs one operation of the command-line tool (envelope settings only change the tables) the way
    // the matching action does, without a dialog; Label names it in the history.
    bool RunCommandLineOperation(const TOperation& Operation, const QString& Label);

    // Errors go to Reporter instead of a message box (for runs nobody watches).
    void SetErrorReporter(TErrorReporter Reporter) { FReportError = std::move(Reporter); }

    TKvPictura* Picture() const { return FPicture; }
    TForm* Form() const { return FForm; }
    const TViewerDocument& Document() const { return FDocument; }
    TViewerDocument& Document() { return FDocument; }
    const TRecentFiles& RecentFiles() const { return FRecentFiles; }

public slots:
    // Scales the picture to the window, keeping its proportions (Stretch, Proportional and Center on).
    void OnZoomToFit();
    // Shows the picture pixel for pixel, scrolling where it is larger than the window.
    void OnActualSize();

protected:
    void closeEvent(QCloseEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private slots:
    void OnOpen();
    void OnOpenRecent();
    void OnClearRecent();
    void OnReload();
    void OnSave();
    void OnSaveAs();
    void OnUndo();
    void OnRedo();
    void OnInvert();
    void OnBrightness();
    void OnGreyScale();
    void OnBlur();
    void OnSharpen();
    void OnEnvelopes();
    void OnStretch(bool Checked);
    void OnProportional(bool Checked);
    void OnCenter(bool Checked);
    void OnAbout();

private:
    void CreateActions();
    void CreateMenus();
    void CreateStatusBar();
    // Enables and checks every action from the window's state; the one place that does.
    void UpdateActions();
    void UpdateStatusBar();
    void UpdateRecentMenu();
    // Sizes the control: the viewport in fit mode, else the picture grown to at least the viewport.
    void LayOutPicture();
    // Refreshes everything that shows the picture or the document after they changed.
    void PictureReplaced();
    // Asks whether to save a modified picture; false when the user cancels.
    bool MaybeSave();
    // Runs Work (a call of one of the control's operations) as one undoable operation named Label.
    bool RunOperation(const QString& Label, const std::function<void()>& Work);
    // Opens Dialog with a live preview of its operation, and keeps the result when it is accepted.
    bool RunDialogOperation(TOperationDialog& Dialog);
    // A dialog with sliders for Parameters whose Work calls the control; the values are remembered.
    void RunParameterOperation(const QString& Title, QList<TParameter> Parameters,
                               std::function<void(const QList<int>&)> Work);
    // Records a finished session as an undo step and shows its time.
    void Commit(TOperationSession& Session, const QString& Label);
    // Runs the parameter dialog of Kind's row of the operations table (ranges, labels, first values).
    void RunTableOperation(TOperationKind Kind);
    void ShowPicture(const TDibImage& Picture);
    void ReportError(const QString& Title, const std::exception& Error);

    std::unique_ptr<QSettings> FOwnSettings;
    TRecentFiles FRecentFiles;
    TViewerDocument FDocument;
    TErrorReporter FReportError;
    QHash<QString, QList<int>> FLastValues; // parameter values by dialog title
    bool FFitToWindow = true;

    TForm* FForm;
    QStackedWidget* FPages;
    QLabel* FPlaceholder;
    QScrollArea* FScrollArea;
    TKvPictura* FPicture;

    QLabel* FFileLabel;
    QLabel* FSizeLabel;
    QLabel* FFormatLabel;
    QLabel* FTimeLabel;

    QMenu* FRecentMenu = nullptr;
    QAction* FOpenAction = nullptr;
    QAction* FReloadAction = nullptr;
    QAction* FSaveAction = nullptr;
    QAction* FSaveAsAction = nullptr;
    QAction* FQuitAction = nullptr;
    QAction* FClearRecentAction = nullptr;
    QAction* FUndoAction = nullptr;
    QAction* FRedoAction = nullptr;
    QAction* FInvertAction = nullptr;
    QAction* FBrightnessAction = nullptr;
    QAction* FGreyScaleAction = nullptr;
    QAction* FBlurAction = nullptr;
    QAction* FSharpenAction = nullptr;
    QAction* FEnvelopesAction = nullptr;
    QAction* FZoomToFitAction = nullptr;
    QAction* FActualSizeAction = nullptr;
    QAction* FStretchAction = nullptr;
    QAction* FProportionalAction = nullptr;
    QAction* FCenterAction = nullptr;
    QAction* FAboutAction = nullptr;
    QAction* FAboutQtAction = nullptr;
};
