#include "ViewerWindow.h"

#include "ActionKeys.h"
#include "DialogPlacement.h"
#include "EnvelopesDialog.h"
#include "FileActions.h"
#include "OperationSession.h"
#include "ParameterDialog.h"
#include "PictureView.h"

#include <pictura/Forms.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

namespace {

// An error message as a sentence: capital first letter, full stop at the end.
QString Sentence(const QString& Message) {
    QString text = Message;
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    if (!text.endsWith('.')) text += '.';
    return text;
}

QString Milliseconds(double Value) {
    return Value < 100 ? QString::number(Value, 'f', 1) + " ms" : QString::number(qRound64(Value)) + " ms";
}

} // namespace

TViewerWindow::TViewerWindow(QSettings* Settings, QWidget* Parent)
    : QMainWindow(Parent), FOwnSettings(Settings ? nullptr : new QSettings) {
    setObjectName("ViewerWindow");
    setAcceptDrops(true);
    FReportError = [this](const QString& Title, const QString& Message) {
        QMessageBox box(QMessageBox::Warning, Title, Message, QMessageBox::Ok, this);
        box.exec();
    };

    // The central area is a form holding the picture view. The form owns the control, so the control's
    // "Convert" box belongs to it.
    FForm = new TForm;
    FForm->setObjectName("ViewerForm");
    FPicture = new TKvPictura(FForm);
    FPicture->setObjectName("Picture");
    FView = new TPictureView(*FPicture, FForm);
    auto* formLayout = new QVBoxLayout(FForm);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->addWidget(FView);
    setCentralWidget(FForm);
    FPicture->SetProportional(true);
    FPicture->SetCenter(true);
    // The worker is never shown, laid out or painted: its bitmap's changes, made on the work thread,
    // must reach no widget code, and Refresh finds it hidden.
    FWorker = std::make_unique<TKvPictura>();
    FWorker->setObjectName("WorkerPicture");
    FWorker->setUpdatesEnabled(false);
    FWorker->Picture()->GetBitmap()->OnChange = nullptr;
    FWork = std::make_unique<TBackgroundWork>();
    FWorker->OnProgress = [work = FWork.get()](TObject*, TProgressStage, int Percent, bool, const QRect&,
                                               const QString&) { work->SetPercent(Percent); };
    connect(FWork.get(), &TBackgroundWork::BusyChanged, this, &TViewerWindow::OnBusyChanged);
    FFiles = new TFileActions(*this, *FPicture, FDocument, *FWork, Settings ? *Settings : *FOwnSettings);
    connect(FFiles, &TFileActions::Opened, this, [this](bool KeepZoom) {
        // A newly opened picture fits when larger than the window; stepping through the folder keeps
        // the zoom the user chose.
        if (!KeepZoom || !FView->ZoomChosen()) FView->ZoomForOpening();
        FTimeLabel->clear();
        PictureReplaced();
    });
    connect(FFiles, &TFileActions::PictureChanged, this, &TViewerWindow::PictureReplaced);
    connect(FFiles, &TFileActions::RecentFilesChanged, this, &TViewerWindow::UpdateActions);
    connect(FFiles, &TFileActions::Error, this,
            [this](const QString& Title, const QString& Message) { ReportError(Title, Message); });
    connect(FView, &TPictureView::ZoomChanged, this, [this] {
        UpdateActions();
        UpdateStatusBar();
    });

    CreateActions();
    CreateMenus();
    CreateStatusBar();
    FFiles->UpdateRecentMenu();
    connect(FView, &TPictureView::LaidOut, this, &TViewerWindow::UpdateStatusBar);
    PictureReplaced();
    resize(1024, 720);
}

TViewerWindow::~TViewerWindow() {
    // Work still running ends before anything it uses goes; its results are dropped.
    if (FWork->Busy()) QApplication::restoreOverrideCursor();
    FWork.reset();
}

void TViewerWindow::CreateActions() {
    const auto make = [this](const QString& Name, const QString& Text, auto Slot,
                             const QKeySequence& Keys = {}) {
        auto* action = new QAction(Text, this);
        action->setObjectName(Name);
        if (!Keys.isEmpty()) action->setShortcut(Keys);
        connect(action, &QAction::triggered, this, Slot);
        return action;
    };
    const auto icon = [this](const char* Theme, QStyle::StandardPixmap Fallback) {
        return QIcon::fromTheme(Theme, style()->standardIcon(Fallback));
    };
    FQuitAction = make("QuitAction", tr("&Quit"), &QWidget::close, QKeySequence::Quit);

    FUndoAction = make("UndoAction", tr("&Undo"), &TViewerWindow::OnUndo, QKeySequence::Undo);
    FUndoAction->setIcon(icon("edit-undo", QStyle::SP_ArrowBack));
    FRedoAction = make("RedoAction", tr("&Redo"), &TViewerWindow::OnRedo, QKeySequence::Redo);
    FRedoAction->setIcon(icon("edit-redo", QStyle::SP_ArrowForward));

    // The operations' actions come from the table of operations, in its order.
    for (const TOperationSpec& spec : OperationTable()) {
        if (!spec.Menu.Action) continue;
        auto* action = new QAction(tr(spec.Menu.Text), this);
        action->setObjectName(spec.Menu.Action);
        if (*spec.Menu.Shortcut) action->setShortcut(QKeySequence(tr(spec.Menu.Shortcut)));
        action->setStatusTip(tr(spec.Menu.Tip));
        action->setData(spec.Menu.Group);
        connect(action, &QAction::triggered, this, [this, &spec] { RunMenuOperation(spec); });
        FOperationActions.push_back(action);
    }

    FZoomToFitAction =
        make("ZoomToFitAction", tr("Zoom to &Fit"), &TViewerWindow::OnZoomToFit, QKeySequence(tr("Ctrl+9")));
    // The style has no zoom icons: without a desktop theme these show their names.
    FZoomToFitAction->setIcon(QIcon::fromTheme("zoom-fit-best"));
    FActualSizeAction = make("ActualSizeAction", tr("&Actual Size"), &TViewerWindow::OnActualSize,
                             QKeySequence(tr("Ctrl+0")));
    FActualSizeAction->setIcon(QIcon::fromTheme("zoom-original"));
    FZoomInAction = make("ZoomInAction", tr("Zoom &In"), &TViewerWindow::OnZoomIn);
    FZoomInAction->setShortcuts(KeysOnce(QKeySequence(tr("Ctrl+=")), QKeySequence::ZoomIn));
    FZoomInAction->setIcon(QIcon::fromTheme("zoom-in"));
    FZoomOutAction = make("ZoomOutAction", tr("Zoom &Out"), &TViewerWindow::OnZoomOut);
    FZoomOutAction->setShortcuts(KeysOnce(QKeySequence(tr("Ctrl+-")), QKeySequence::ZoomOut));
    FZoomOutAction->setIcon(QIcon::fromTheme("zoom-out"));
    FStretchAction = make("StretchAction", tr("&Stretch"), &TViewerWindow::OnStretch);
    FProportionalAction = make("ProportionalAction", tr("&Proportional"), &TViewerWindow::OnProportional);
    FCenterAction = make("CenterAction", tr("&Center"), &TViewerWindow::OnCenter);
    for (QAction* toggle : {FStretchAction, FProportionalAction, FCenterAction})
        toggle->setCheckable(true);
    FStretchAction->setStatusTip(tr("Scale the picture to the control's size"));
    FProportionalAction->setStatusTip(
        tr("Keep the proportions when scaling; shrink pictures larger than the window"));
    FCenterAction->setStatusTip(tr("Centre the picture in the window"));

    FAboutAction = make("AboutAction", tr("&About Pictura Viewer"), &TViewerWindow::OnAbout);
    FAboutQtAction = make("AboutQtAction", tr("About &Qt"), &QApplication::aboutQt);
}

void TViewerWindow::CreateMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(FFiles->OpenAction());
    file->addMenu(FFiles->RecentMenu());
    file->addAction(FFiles->ReloadAction());
    file->addActions({FFiles->PreviousAction(), FFiles->NextAction()});
    file->addSeparator();
    file->addAction(FFiles->SaveAction());
    file->addAction(FFiles->SaveAsAction());
    file->addSeparator();
    file->addAction(FQuitAction);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(FUndoAction);
    edit->addAction(FRedoAction);

    QMenu* image = menuBar()->addMenu(tr("&Image"));
    for (size_t i = 0; i < FOperationActions.size(); ++i) {
        if (i > 0 && FOperationActions[i]->data() != FOperationActions[i - 1]->data()) image->addSeparator();
        image->addAction(FOperationActions[i]);
    }

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addActions({FZoomInAction, FZoomOutAction, FZoomToFitAction, FActualSizeAction});
    view->addSeparator();
    view->addActions({FStretchAction, FProportionalAction, FCenterAction});

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addActions({FAboutAction, FAboutQtAction});

    QToolBar* tools = addToolBar(tr("Main"));
    tools->setObjectName("MainToolBar");
    tools->setMovable(false);
    // Icons where there are icons; the operations have none and show their names.
    tools->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tools->addActions({FFiles->OpenAction(), FFiles->SaveAsAction()});
    tools->addSeparator();
    tools->addActions({FUndoAction, FRedoAction});
    tools->addSeparator();
    for (QAction* action : FOperationActions)
        tools->addAction(action);
    tools->addSeparator();
    tools->addActions({FZoomToFitAction, FActualSizeAction});
}

void TViewerWindow::CreateStatusBar() {
    const auto label = [this](const char* Name, const QString& Tip) {
        auto* item = new QLabel(this);
        item->setObjectName(Name);
        item->setToolTip(Tip);
        item->setContentsMargins(6, 0, 6, 0);
        return item;
    };
    FFileLabel = label("FileLabel", tr("The picture's file"));
    FSizeLabel = label("SizeLabel", tr("Width x height in pixels"));
    FFormatLabel = label("FormatLabel", tr("Pixel format"));
    FTimeLabel = label("TimeLabel", tr("The last operation and the time it took"));
    FZoomLabel = label("ZoomLabel", tr("The scale the picture is shown at"));
    FBytesLabel = label("BytesLabel", tr("The size of the picture's file"));
    FPositionLabel = label("PositionLabel", tr("The picture's place among the pictures of its folder"));
    // The file's name gives way first: what runs, and the picture's facts, stay whole.
    FFileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    FWorkLabel = label("WorkLabel", tr("The work running now"));
    FProgressBar = new QProgressBar(this);
    FProgressBar->setObjectName("ProgressBar");
    FProgressBar->setMaximumWidth(160);
    FProgressBar->setTextVisible(true);
    FWorkLabel->hide();
    FProgressBar->hide();
    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(50);
    connect(FProgressTimer, &QTimer::timeout, this, &TViewerWindow::ShowProgress);
    statusBar()->addWidget(FFileLabel, 1);
    statusBar()->addWidget(FPositionLabel);
    statusBar()->addPermanentWidget(FWorkLabel);
    statusBar()->addPermanentWidget(FProgressBar);
    statusBar()->addPermanentWidget(FTimeLabel);
    statusBar()->addPermanentWidget(FZoomLabel);
    statusBar()->addPermanentWidget(FSizeLabel);
    statusBar()->addPermanentWidget(FBytesLabel);
    statusBar()->addPermanentWidget(FFormatLabel);
}

void TViewerWindow::UpdateActions() {
    const bool hasPicture = !FPicture->Picture()->GetBitmap()->Empty();
    // While work runs, only what leaves the picture and the document alone stays on (the view).
    const bool idle = !FWork->Busy();
    FFiles->UpdateActions(hasPicture, idle);
    for (QAction* action : FOperationActions)
        action->setEnabled(hasPicture && idle);
    for (QAction* action : {FZoomToFitAction, FActualSizeAction, FZoomInAction, FZoomOutAction,
                            FStretchAction, FProportionalAction, FCenterAction})
        action->setEnabled(hasPicture);
    FUndoAction->setEnabled(idle && FDocument.CanUndo());
    FUndoAction->setText(FDocument.CanUndo() ? tr("&Undo %1").arg(FDocument.UndoLabel()) : tr("&Undo"));
    FRedoAction->setEnabled(idle && FDocument.CanRedo());
    FRedoAction->setText(FDocument.CanRedo() ? tr("&Redo %1").arg(FDocument.RedoLabel()) : tr("&Redo"));
    FStretchAction->setChecked(FPicture->Stretch());
    FProportionalAction->setChecked(FPicture->Proportional());
    FCenterAction->setChecked(FPicture->Center());
    setWindowTitle(FDocument.DisplayName() + "[*]");
    setWindowModified(FDocument.Modified());
}

void TViewerWindow::UpdateStatusBar() {
    const TBitmap* bitmap = FPicture->Picture()->GetBitmap();
    const bool hasPicture = !bitmap->Empty();
    FFileLabel->setText(FDocument.FileName().isEmpty() ? QString()
                                                       : QDir::toNativeSeparators(FDocument.FileName()));
    FFileLabel->setToolTip(FFileLabel->text());
    const TFileFacts& facts = FFiles->FileFacts();
    FBytesLabel->setText(facts.Bytes < 0 ? QString() : QLocale().formattedDataSize(facts.Bytes));
    FPositionLabel->setText(facts.Count > 0 ? tr("%1 of %2").arg(facts.Position).arg(facts.Count)
                                            : QString());
    FBytesLabel->setVisible(!FBytesLabel->text().isEmpty());
    FPositionLabel->setVisible(!FPositionLabel->text().isEmpty());
    FSizeLabel->setText(hasPicture ? QStringLiteral("%1 \u00d7 %2").arg(bitmap->Width()).arg(bitmap->Height())
                                   : "");
    FFormatLabel->setText(hasPicture ? PixelFormatName(bitmap->GetPixelFormat()) : QString());
    FZoomLabel->setText(hasPicture ? QStringLiteral("%1 %").arg(qRound(ZoomFactor() * 100)) : QString());
    FZoomLabel->setVisible(hasPicture);
    FSizeLabel->setVisible(hasPicture);
    FFormatLabel->setVisible(hasPicture);
    FTimeLabel->setVisible(!FTimeLabel->text().isEmpty());
}

void TViewerWindow::PlaceBeside(QWidget& Dialog) const {
    Dialog.adjustSize();
    // The picture as shown, on the screen (the whole view when it shows none).
    const QWidget* viewport = FView->ScrollArea()->viewport();
    const QRect view(viewport->mapToGlobal(QPoint(0, 0)), viewport->size());
    const QRect shown =
        FPicture->DestRect().translated(FPicture->mapToGlobal(QPoint(0, 0))).intersected(view);
    Dialog.move(DialogPlace(screen()->availableGeometry(), frameGeometry(), shown.isEmpty() ? view : shown,
                            Dialog.frameGeometry().size()));
}

void TViewerWindow::PictureReplaced() {
    FView->PictureReplaced();
    UpdateActions();
    UpdateStatusBar();
}

void TViewerWindow::ReportError(const QString& Title, const std::exception& Error) {
    ReportError(Title, QString::fromStdString(Error.what()));
}

void TViewerWindow::ReportError(const QString& Title, const QString& Error) {
    FReportError(Title, Sentence(Error));
}

void TViewerWindow::OnBusyChanged(bool Busy) {
    if (Busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        FWorkLabel->setText(FWork->Title() + QStringLiteral("\u2026"));
        ShowProgress();
        FWorkLabel->show();
        FProgressBar->show();
        FProgressTimer->start();
    } else {
        FProgressTimer->stop();
        FWorkLabel->hide();
        FProgressBar->hide();
        QApplication::restoreOverrideCursor();
    }
    UpdateActions();
    // A close asked for while work ran happens now (the question about unsaved changes included).
    if (!Busy && FCloseWhenIdle) QTimer::singleShot(0, this, &QWidget::close);
}

void TViewerWindow::ShowProgress() {
    const int percent = FWork->Percent();
    if (percent < 0) {
        FProgressBar->setRange(0, 0); // work that cannot say how far it is: a moving bar
    } else {
        FProgressBar->setRange(0, 100);
        FProgressBar->setValue(percent);
    }
}

void TViewerWindow::closeEvent(QCloseEvent* Event) {
    // Closing under running work would drop it half way (a file half written): the window closes as
    // soon as the work has ended.
    if (FWork->Busy()) {
        FCloseWhenIdle = true;
        statusBar()->showMessage(tr("The window closes once %1 has finished.").arg(FWork->Title()));
        Event->ignore();
        return;
    }
    FCloseWhenIdle = false;
    if (FFiles->MaybeSave())
        Event->accept();
    else
        Event->ignore();
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* Event) {
    const QList<QUrl> urls = Event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) Event->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* Event) {
    const QList<QUrl> urls = Event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile() || FWork->Busy()) return;
    Event->acceptProposedAction();
    if (FFiles->MaybeSave()) FFiles->OpenFile(urls.front().toLocalFile());
}

bool TViewerWindow::OpenFile(const QString& FileName) {
    return FFiles->OpenFile(FileName);
}

bool TViewerWindow::SaveFile(const QString& FileName) {
    return FFiles->SaveFile(FileName);
}

void TViewerWindow::SetKeepsRecentFiles(bool Value) {
    FFiles->SetKeepsRecentFiles(Value);
}

const TRecentFiles& TViewerWindow::RecentFiles() const {
    return FFiles->RecentFiles();
}

void TViewerWindow::ShowPicture(TDibImage Picture) {
    FPicture->Picture()->GetBitmap()->Assign(std::move(Picture));
    PictureReplaced();
}

void TViewerWindow::StepThroughHistory(bool Back) {
    if (!(Back ? FDocument.CanUndo() : FDocument.CanRedo()) || FWork->Busy()) return;
    // The shown picture goes into the history as a copy, made off the GUI thread; what comes back is
    // moved in whole.
    TDibImage current;
    const TBitmap* shown = FPicture->Picture()->GetBitmap();
    const QString error = RunAndWait(*FWork, Back ? tr("Undoing") : tr("Redoing"),
                                     [&current, shown] { current = shown->Dib(); });
    if (!error.isEmpty()) {
        ReportError(Back ? tr("Cannot Undo") : tr("Cannot Redo"), error);
        return;
    }
    ShowPicture(Back ? FDocument.Undo(std::move(current)) : FDocument.Redo(std::move(current)));
}

void TViewerWindow::OnUndo() {
    StepThroughHistory(true);
}

void TViewerWindow::OnRedo() {
    StepThroughHistory(false);
}

void TViewerWindow::Commit(TOperationSession& Session, const QString& Label) {
    FDocument.Changed(Session.TakeBefore(), Label);
    FTimeLabel->setText(tr("%1: %2").arg(Label, Milliseconds(Session.LastMilliseconds())));
    PictureReplaced();
}

namespace {

// While an operation runs, the picture it starts from (24-bit) and the worker's copy count in the undo
// history's budget, and the picture from before a conversion too.
class TWorkCopies {
public:
    TWorkCopies(TSnapshotHistory& History, const TBitmap& Shown) : FHistory(History) {
        const size_t working = BytesPerScanline(Shown.Width(), 24) * size_t(Shown.Height());
        FHistory.SetHeldElsewhere(2 * working +
                                  (Shown.GetPixelFormat() == pf24bit ? 0 : Shown.Dib().Bits.size()));
    }
    ~TWorkCopies() { FHistory.SetHeldElsewhere(0); }
    TWorkCopies(const TWorkCopies&) = delete;
    TWorkCopies& operator=(const TWorkCopies&) = delete;

private:
    TSnapshotHistory& FHistory;
};

} // namespace

bool TViewerWindow::RunOperation(const QString& Label, TPictureOperation Operation) {
    if (FWork->Busy()) return false;
    TOperationSession session(*FPicture, *FWorker, *FWork);
    if (!session.Begin()) {
        statusBar()->showMessage(tr("%1 cancelled: the picture was not converted to 24 bits").arg(Label),
                                 5000);
        return false;
    }
    const TWorkCopies copies(FDocument.History(), *FPicture->Picture()->GetBitmap());
    UpdateStatusBar(); // the pixel format may have changed already
    session.Run(Label, std::move(Operation));
    FWork->Wait();
    if (!session.Error().isEmpty()) {
        session.Cancel();
        PictureReplaced();
        ReportError(tr("%1 Failed").arg(Label), session.Error());
        return false;
    }
    Commit(session, Label);
    return true;
}

bool TViewerWindow::RunDialogOperation(TOperationDialog& Dialog) {
    if (FWork->Busy()) return false;
    TOperationSession session(*FPicture, *FWorker, *FWork);
    if (!session.Begin()) {
        statusBar()->showMessage(tr("Cancelled: the picture was not converted to 24 bits"), 5000);
        return false;
    }
    const TWorkCopies copies(FDocument.History(), *FPicture->Picture()->GetBitmap());
    UpdateStatusBar(); // the pixel format may have changed already
    Dialog.SetPreviewHandlers([&] { session.Restore(); },
                              [&](std::function<bool(bool)> Ended) {
                                  session.Run(
                                      Dialog.OperationLabel(), Dialog.Operation(),
                                      [Ended] { return Ended(true); },
                                      [&session, Ended] {
                                          if (!session.Error().isEmpty()) Ended(false);
                                      });
                              });
    PlaceBeside(Dialog);
    const bool accepted = Dialog.exec() == QDialog::Accepted;
    FWork->Wait(); // a dropped preview may still be running
    if (!accepted || !session.Error().isEmpty()) {
        const QString error = session.Error();
        session.Cancel();
        PictureReplaced();
        if (!error.isEmpty()) ReportError(tr("%1 Failed").arg(Dialog.windowTitle()), error);
        return false;
    }
    Dialog.KeepOperation(*FPicture);
    Commit(session, Dialog.OperationLabel());
    return true;
}

void TViewerWindow::RunParameterOperation(const QString& Title, QList<TParameter> Parameters,
                                          std::function<void(TKvPictura&, const QList<int>&)> Work) {
    const QList<int> last = FLastValues.value(Title);
    for (qsizetype i = 0; i < Parameters.size() && i < last.size(); ++i)
        Parameters[i].Value = last[i];
    TParameterDialog dialog(Title, Parameters, std::move(Work), this);
    dialog.setObjectName(Title + "Dialog");
    if (RunDialogOperation(dialog)) FLastValues[Title] = dialog.Values();
}

void TViewerWindow::RunMenuOperation(const TOperationSpec& Spec) {
    if (Spec.Name == std::string_view("apply-envelops")) return OnEnvelopes(); // the tables edited as curves
    // The dialog's values are the row's, in its order.
    const auto apply = [&Spec](TKvPictura& Picture, const QList<int>& Values) {
        ApplyOperation(Picture, {.Spec = &Spec, .Name = Spec.Name, .Values = {Values.begin(), Values.end()}});
    };
    if (Spec.Parameters.empty())
        return void(RunOperation(tr(Spec.Title), [apply](TKvPictura& Picture) { apply(Picture, {}); }));
    QList<TParameter> parameters;
    for (const TParameterSpec& parameter : Spec.Parameters)
        parameters << TParameter{QString(parameter.Label).remove('&').remove(':'),
                                 tr(parameter.Label),
                                 int(parameter.Min),
                                 int(parameter.Max),
                                 parameter.Default,
                                 parameter.Unit,
                                 parameter.SliderMax};
    RunParameterOperation(tr(Spec.Title), parameters, apply);
}

void TViewerWindow::OnEnvelopes() {
    TEnvelopesDialog dialog(*FPicture, this);
    dialog.setObjectName("EnvelopesDialog");
    RunDialogOperation(dialog);
}

double TViewerWindow::ZoomFactor() const {
    return FView->ZoomFactor();
}

void TViewerWindow::ZoomTo(double Factor, QPoint Anchor) {
    FView->ZoomTo(Factor, Anchor);
}

QScrollArea* TViewerWindow::View() const {
    return FView->ScrollArea();
}

void TViewerWindow::OnZoomIn() {
    FView->ZoomIn();
}

void TViewerWindow::OnZoomOut() {
    FView->ZoomOut();
}

void TViewerWindow::OnZoomToFit() {
    FView->ZoomToFit();
}

void TViewerWindow::OnActualSize() {
    FView->ActualSize();
}

void TViewerWindow::OnStretch(bool Checked) {
    FPicture->SetStretch(Checked);
    UpdateActions();
}

void TViewerWindow::OnProportional(bool Checked) {
    FPicture->SetProportional(Checked);
    UpdateActions();
}

void TViewerWindow::OnCenter(bool Checked) {
    FPicture->SetCenter(Checked);
    UpdateActions();
}

void TViewerWindow::OnAbout() {
    // The operations the Image menu offers, from the table: "invert, brightness, ... and envelopes".
    QStringList operations;
    for (const TOperationSpec& spec : OperationTable())
        if (spec.Menu.Action) operations << tr(spec.Menu.Text).remove('&').remove("...").toLower();
    const QString last = operations.isEmpty() ? QString() : operations.takeLast();
    QMessageBox::about(
        this, tr("About Pictura Viewer"),
        tr("<h3>Pictura Viewer %1</h3>"
           "<p>Opens a picture and runs the Pictura image control's operations on it: %2.</p>"
           "<p>Every operation works on 24-bit pixels; other pictures are converted first, "
           "after asking.</p>")
            .arg(QApplication::applicationVersion(),
                 operations.isEmpty() ? last : tr("%1 and %2").arg(operations.join(", "), last)));
}

bool TViewerWindow::RunCommandLineOperation(const TOperation& Operation, const QString& Label) {
    // Settings of the tables (single levels, curves, files) touch no pixel: they go to the shown control,
    // whose tables every operation's worker starts from.
    if (!Operation.Spec->ChangesPicture) {
        try {
            ApplyOperation(*FPicture, Operation);
        } catch (const std::exception& e) {
            ReportError(tr("%1 Failed").arg(Label), e);
            return false;
        }
        return true;
    }
    return RunOperation(Label, [Operation](TKvPictura& Picture) { ApplyOperation(Picture, Operation); });
}
