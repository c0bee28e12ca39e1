// TViewerWindow: the viewer's main window: menus and tool bar, the picture view (TPictureView) on a form,
// the file actions (TFileActions), and a status bar with the file, its place in its folder, the picture's
// size, the file's size, the pixel format and the time of the last operation.
#pragma once

#include "BackgroundWork.h"
#include "OperationSession.h"
#include "OperationTable.h"
#include "RecentFiles.h"
#include "ViewerDocument.h"

#include <QHash>
#include <QMainWindow>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QTimer;
class QScrollArea;
class TForm;
class TKvPictura;
class TFileActions;
class TOperationDialog;
class TPictureView;
struct TParameter;

class TViewerWindow : public QMainWindow {
    Q_OBJECT
public:
    // Receives error reports: a short title and a message naming the file and the reason.
    using TErrorReporter = std::function<void(const QString& Title, const QString& Message)>;

    // Settings keeps the recent files (null: the application's own settings).
    explicit TViewerWindow(QSettings* Settings = nullptr, QWidget* Parent = nullptr);
    ~TViewerWindow() override;

    // The file actions' open and save (TFileActions). Like every long piece of work they return when
    // the work has ended, processing events meanwhile; false at once while other work runs.
    bool OpenFile(const QString& FileName);
    bool SaveFile(const QString& FileName);
    // Runs one operation of the command-line tool (envelope settings only change the tables) the way
    // the matching action does, without a dialog; Label names it in the history.
    bool RunCommandLineOperation(const TOperation& Operation, const QString& Label);

    // Off: opening and saving leave the recent files alone (for runs nobody watches).
    void SetKeepsRecentFiles(bool Value);
    // Errors go to Reporter instead of a message box (for runs nobody watches).
    void SetErrorReporter(TErrorReporter Reporter) { FReportError = std::move(Reporter); }

    TKvPictura* Picture() const { return FPicture; }
    TForm* Form() const { return FForm; }
    const TViewerDocument& Document() const { return FDocument; }
    TViewerDocument& Document() { return FDocument; }
    const TRecentFiles& RecentFiles() const;
    // The long work the window runs off the GUI thread.
    TBackgroundWork& Work() const { return *FWork; }

public slots:
    // Scales the picture to the window, keeping its proportions (Stretch, Proportional and Center on).
    void OnZoomToFit();
    // Shows the picture pixel for pixel, scrolling where it is larger than the window.
    void OnActualSize();
    // One zoom step larger or smaller, keeping the middle of the view in place.
    void OnZoomIn();
    void OnZoomOut();

public:
    // The picture view's scale and zoom (TPictureView).
    double ZoomFactor() const;
    void ZoomTo(double Factor, QPoint Anchor);
    QScrollArea* View() const;

protected:
    void closeEvent(QCloseEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private slots:
    void OnUndo();
    void OnRedo();
    // The action of Spec's row in the Image menu: at once, through a dialog of the row's parameters
    // (ranges, labels, first values), or (the envelopes) through the curves dialog.
    void RunMenuOperation(const TOperationSpec& Spec);
    void OnEnvelopes();
    void OnStretch(bool Checked);
    void OnProportional(bool Checked);
    void OnCenter(bool Checked);
    void OnAbout();
    void OnBusyChanged(bool Busy);
    void ShowProgress();

private:
    void CreateActions();
    void CreateMenus();
    void CreateStatusBar();
    // Enables and checks every action from the window's state; the one place that does.
    void UpdateActions();
    void UpdateStatusBar();
    // Moves Dialog beside the window (or to the screen's edge), off the picture it previews.
    void PlaceBeside(QWidget& Dialog) const;
    // Refreshes everything that shows the picture or the document after they changed.
    void PictureReplaced();
    // Runs Operation off the GUI thread as one undoable operation named Label.
    bool RunOperation(const QString& Label, TPictureOperation Operation);
    // Opens Dialog with a live preview of its operation, and keeps the result when it is accepted.
    bool RunDialogOperation(TOperationDialog& Dialog);
    // A dialog with sliders for Parameters whose Work calls the control; the values are remembered.
    void RunParameterOperation(const QString& Title, QList<TParameter> Parameters,
                               std::function<void(TKvPictura&, const QList<int>&)> Work);
    // Records a finished session as an undo step and shows its time.
    void Commit(TOperationSession& Session, const QString& Label);
    void ShowPicture(TDibImage Picture);
    // Undo (Back) or redo one step.
    void StepThroughHistory(bool Back);
    void ReportError(const QString& Title, const std::exception& Error);
    void ReportError(const QString& Title, const QString& Error);

    std::unique_ptr<QSettings> FOwnSettings;
    TViewerDocument FDocument;
    TErrorReporter FReportError;
    QHash<QString, QList<int>> FLastValues; // parameter values by dialog title

    TForm* FForm;
    TKvPictura* FPicture;
    TPictureView* FView;
    TFileActions* FFiles; // owned by the window, as its QObject child
    // Operations run on this control, never shown, so the shown one is never worked on; FWork is
    // declared after it so that work still running ends before the control goes.
    std::unique_ptr<TKvPictura> FWorker;
    std::unique_ptr<TBackgroundWork> FWork;
    bool FCloseWhenIdle = false;

    QLabel* FFileLabel;
    QLabel* FSizeLabel;
    QLabel* FFormatLabel;
    QLabel* FTimeLabel;
    QLabel* FZoomLabel = nullptr;
    QLabel* FBytesLabel;
    QLabel* FPositionLabel;
    QLabel* FWorkLabel;
    QProgressBar* FProgressBar;
    QTimer* FProgressTimer;

    QAction* FQuitAction = nullptr;
    QAction* FUndoAction = nullptr;
    QAction* FRedoAction = nullptr;
    std::vector<QAction*> FOperationActions; // the Image menu's, from the table of operations
    QAction* FZoomToFitAction = nullptr;
    QAction* FActualSizeAction = nullptr;
    QAction* FZoomInAction = nullptr;
    QAction* FZoomOutAction = nullptr;
    QAction* FStretchAction = nullptr;
    QAction* FProportionalAction = nullptr;
    QAction* FCenterAction = nullptr;
    QAction* FAboutAction = nullptr;
    QAction* FAboutQtAction = nullptr;
};
