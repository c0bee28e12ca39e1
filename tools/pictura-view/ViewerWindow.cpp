#include "ViewerWindow.h"

#include "EnvelopesDialog.h"
#include "FolderPictures.h"
#include "OperationSession.h"
#include "ParameterDialog.h"
#include "PictureView.h"

#include <pictura/Forms.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
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

// File dialog filters for Extensions, the common formats first, then one for all of them.
QStringList NameFilters(QStringList Extensions, bool WithAll) {
    const QStringList common{"png", "bmp", "jpg", "jpeg", "ppm", "tif", "tiff", "webp"};
    std::stable_sort(Extensions.begin(), Extensions.end(), [&](const QString& a, const QString& b) {
        const auto rank = [&](const QString& e) {
            return common.contains(e) ? common.indexOf(e) : common.size();
        };
        return rank(a) < rank(b);
    });
    QStringList filters;
    if (WithAll) {
        QStringList patterns;
        for (const QString& extension : Extensions)
            patterns << "*." + extension;
        filters << QObject::tr("Pictures (%1)").arg(patterns.join(' '));
    }
    for (const QString& extension : Extensions)
        filters << QObject::tr("%1 (*.%2)").arg(extension.toUpper(), extension);
    if (WithAll) filters << QObject::tr("All files (*)");
    return filters;
}

// Key and then the platform's keys for Standard, each once: a key given twice to one action makes its
// shortcut ambiguous, and pressing it then does nothing (Ctrl+- is the standard zoom out on Linux).
QList<QKeySequence> KeysOnce(const QKeySequence& Key, QKeySequence::StandardKey Standard) {
    QList<QKeySequence> keys{Key};
    for (const QKeySequence& key : QKeySequence::keyBindings(Standard))
        if (!keys.contains(key)) keys << key;
    return keys;
}

} // namespace

TViewerWindow::TViewerWindow(QSettings* Settings, QWidget* Parent)
    : QMainWindow(Parent), FOwnSettings(Settings ? nullptr : new QSettings),
      FRecentFiles(Settings ? *Settings : *FOwnSettings) {
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
    connect(FView, &TPictureView::ZoomChanged, this, [this] {
        UpdateActions();
        UpdateStatusBar();
    });

    CreateActions();
    CreateMenus();
    CreateStatusBar();
    UpdateRecentMenu();
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
    FOpenAction = make("OpenAction", tr("&Open..."), &TViewerWindow::OnOpen, QKeySequence::Open);
    FOpenAction->setIcon(icon("document-open", QStyle::SP_DialogOpenButton));
    FOpenAction->setStatusTip(tr("Open a picture file"));
    FReloadAction = make("ReloadAction", tr("&Reload"), &TViewerWindow::OnReload, QKeySequence::Refresh);
    FReloadAction->setIcon(icon("view-refresh", QStyle::SP_BrowserReload));
    FReloadAction->setStatusTip(tr("Read the file again (the current picture stays one undo step away)"));
    FSaveAction = make("SaveAction", tr("&Save"), &TViewerWindow::OnSave, QKeySequence::Save);
    FSaveAction->setIcon(icon("document-save", QStyle::SP_DialogSaveButton));
    FSaveAsAction = make("SaveAsAction", tr("Save &As..."), &TViewerWindow::OnSaveAs, QKeySequence::SaveAs);
    FSaveAsAction->setIcon(icon("document-save-as", QStyle::SP_DialogSaveButton));
    FSaveAsAction->setStatusTip(tr("Write the picture to a file; the extension chooses the format"));
    FClearRecentAction = make("ClearRecentAction", tr("&Clear Menu"), &TViewerWindow::OnClearRecent);
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
    FNextAction = make("NextPictureAction", tr("&Next Picture"), &TViewerWindow::OnNextPicture,
                       QKeySequence(Qt::Key_PageDown));
    FNextAction->setStatusTip(tr("Open the next picture of the folder"));
    FPreviousAction = make("PreviousPictureAction", tr("&Previous Picture"),
                           &TViewerWindow::OnPreviousPicture, QKeySequence(Qt::Key_PageUp));
    FPreviousAction->setStatusTip(tr("Open the previous picture of the folder"));
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
    file->addAction(FOpenAction);
    FRecentMenu = file->addMenu(tr("Open &Recent"));
    FRecentMenu->setObjectName("RecentMenu");
    file->addAction(FReloadAction);
    file->addActions({FPreviousAction, FNextAction});
    file->addSeparator();
    file->addAction(FSaveAction);
    file->addAction(FSaveAsAction);
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
    tools->addActions({FOpenAction, FSaveAsAction});
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
    statusBar()->addPermanentWidget(FWorkLabel);
    statusBar()->addPermanentWidget(FProgressBar);
    statusBar()->addPermanentWidget(FTimeLabel);
    statusBar()->addPermanentWidget(FZoomLabel);
    statusBar()->addPermanentWidget(FSizeLabel);
    statusBar()->addPermanentWidget(FFormatLabel);
}

void TViewerWindow::UpdateActions() {
    const bool hasPicture = !FPicture->Picture()->GetBitmap()->Empty();
    // While work runs, only what leaves the picture and the document alone stays on (the view).
    const bool idle = !FWork->Busy();
    for (QAction* action : {FSaveAction, FSaveAsAction})
        action->setEnabled(hasPicture && idle);
    for (QAction* action : FOperationActions)
        action->setEnabled(hasPicture && idle);
    for (QAction* action : {FZoomToFitAction, FActualSizeAction, FZoomInAction, FZoomOutAction,
                            FStretchAction, FProportionalAction, FCenterAction})
        action->setEnabled(hasPicture);
    FOpenAction->setEnabled(idle);
    FReloadAction->setEnabled(idle && !FDocument.FileName().isEmpty());
    FNextAction->setEnabled(idle && !FDocument.FileName().isEmpty());
    FPreviousAction->setEnabled(idle && !FDocument.FileName().isEmpty());
    FUndoAction->setEnabled(idle && FDocument.CanUndo());
    FUndoAction->setText(FDocument.CanUndo() ? tr("&Undo %1").arg(FDocument.UndoLabel()) : tr("&Undo"));
    FRedoAction->setEnabled(idle && FDocument.CanRedo());
    FRedoAction->setText(FDocument.CanRedo() ? tr("&Redo %1").arg(FDocument.RedoLabel()) : tr("&Redo"));
    FStretchAction->setChecked(FPicture->Stretch());
    FProportionalAction->setChecked(FPicture->Proportional());
    FCenterAction->setChecked(FPicture->Center());
    const bool hasRecent = !FRecentFiles.Files().isEmpty();
    FClearRecentAction->setEnabled(hasRecent);
    FRecentMenu->setEnabled(idle && hasRecent);
    setWindowTitle(FDocument.DisplayName() + "[*]");
    setWindowModified(FDocument.Modified());
}

void TViewerWindow::UpdateStatusBar() {
    const TBitmap* bitmap = FPicture->Picture()->GetBitmap();
    const bool hasPicture = !bitmap->Empty();
    FFileLabel->setText(FDocument.FileName().isEmpty() ? QString()
                                                       : QDir::toNativeSeparators(FDocument.FileName()));
    FSizeLabel->setText(hasPicture ? QStringLiteral("%1 \u00d7 %2").arg(bitmap->Width()).arg(bitmap->Height())
                                   : "");
    FFormatLabel->setText(hasPicture ? PixelFormatName(bitmap->GetPixelFormat()) : QString());
    FZoomLabel->setText(hasPicture ? QStringLiteral("%1 %").arg(qRound(ZoomFactor() * 100)) : QString());
    FZoomLabel->setVisible(hasPicture);
    FSizeLabel->setVisible(hasPicture);
    FFormatLabel->setVisible(hasPicture);
    FTimeLabel->setVisible(!FTimeLabel->text().isEmpty());
}

void TViewerWindow::UpdateRecentMenu() {
    FRecentMenu->clear();
    const QStringList files = FRecentFiles.Files();
    QStringList names;
    for (const QString& file : files)
        names << QFileInfo(file).fileName();
    for (int i = 0; i < files.size(); ++i) {
        // Files of the same name tell themselves apart by their folder.
        QString text = names[i];
        if (names.count(names[i]) > 1)
            text += QStringLiteral(" \u2014 ") + QDir::toNativeSeparators(QFileInfo(files[i]).absolutePath());
        // Numbered entries give keyboard users a mnemonic for each.
        auto* action = FRecentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(text));
        action->setData(files[i]);
        action->setStatusTip(QDir::toNativeSeparators(files[i]));
        connect(action, &QAction::triggered, this, &TViewerWindow::OnOpenRecent);
    }
    if (!files.isEmpty()) FRecentMenu->addSeparator();
    FRecentMenu->addAction(FClearRecentAction);
    UpdateActions();
}

void TViewerWindow::StepThroughFolder(int Step) {
    if (FDocument.FileName().isEmpty() || FWork->Busy()) return;
    const QString next = NeighbourPicture(FDocument.FileName(), Step);
    if (next.isEmpty()) {
        statusBar()->showMessage(Step > 0 ? tr("This is the folder's last picture")
                                          : tr("This is the folder's first picture"),
                                 3000);
        return;
    }
    if (MaybeSave()) OpenFile(next);
}

void TViewerWindow::OnNextPicture() {
    StepThroughFolder(+1);
}

void TViewerWindow::OnPreviousPicture() {
    StepThroughFolder(-1);
}

void TViewerWindow::PlaceBeside(QWidget& Dialog) const {
    Dialog.adjustSize();
    const QRect screen = this->screen()->availableGeometry();
    const QRect window = frameGeometry();
    const QSize size = Dialog.frameGeometry().size();
    int x;
    if (window.right() + 1 + size.width() <= screen.right() + 1)
        x = window.right() + 1;
    else if (window.left() - size.width() >= screen.left())
        x = window.left() - size.width();
    else
        x = screen.right() + 1 - size.width(); // no room: the screen's edge covers the least of the middle
    const int y =
        std::clamp(window.top(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    Dialog.move(x, y);
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

QString TViewerWindow::RunInBackground(const QString& Title, std::function<void()> Work) {
    QString error;
    FWork->Start(Title, std::move(Work), [&error](const QString& Error) { error = Error; });
    FWork->Wait();
    return error;
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

bool TViewerWindow::OpenFile(const QString& FileName) {
    if (FWork->Busy()) return false;
    TDibImage loaded;
    const QString error = RunInBackground(tr("Opening %1").arg(QFileInfo(FileName).fileName()), [&] {
        TPicture picture;
        picture.LoadFromFile(FileName);
        loaded = picture.GetBitmap()->Dib();
    });
    if (!error.isEmpty()) {
        if (FKeepsRecentFiles && !QFileInfo::exists(FileName)) {
            FRecentFiles.Remove(FileName);
            UpdateRecentMenu();
        }
        ReportError(tr("Cannot Open Picture"), error);
        return false;
    }
    FPicture->Picture()->GetBitmap()->Assign(std::move(loaded));
    FDocument.Opened(QFileInfo(FileName).absoluteFilePath());
    if (FKeepsRecentFiles) FRecentFiles.Add(FileName);
    UpdateRecentMenu();
    FTimeLabel->clear();
    PictureReplaced();
    return true;
}

bool TViewerWindow::SaveFile(const QString& FileName) {
    if (FWork->Busy()) return false;
    // The work only reads the shown picture, which changes only once it has ended.
    const TPicture* shown = FPicture->Picture();
    const QString error = RunInBackground(tr("Saving %1").arg(QFileInfo(FileName).fileName()),
                                          [shown, FileName] { shown->SaveToFile(FileName); });
    if (!error.isEmpty()) {
        ReportError(tr("Cannot Save Picture"), error);
        return false;
    }
    FDocument.Saved(QFileInfo(FileName).absoluteFilePath());
    if (FKeepsRecentFiles) FRecentFiles.Add(FileName);
    UpdateRecentMenu();
    PictureReplaced();
    return true;
}

bool TViewerWindow::MaybeSave() {
    if (!FDocument.Modified()) return true;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, tr("Unsaved Changes"),
        tr("The picture \u201c%1\u201d has been changed.\nDo you want to save the changes?")
            .arg(FDocument.DisplayName()),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::Discard) return true;
    OnSave();
    return !FDocument.Modified();
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
    if (MaybeSave())
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
    if (MaybeSave()) OpenFile(urls.front().toLocalFile());
}

void TViewerWindow::OnOpen() {
    if (!MaybeSave()) return;
    QFileDialog dialog(this, tr("Open Picture"));
    dialog.setObjectName("OpenDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFilters(TPicture::ReadableExtensions(), true));
    if (!FDocument.FileName().isEmpty()) dialog.setDirectory(QFileInfo(FDocument.FileName()).absolutePath());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        OpenFile(dialog.selectedFiles().front());
}

void TViewerWindow::OnOpenRecent() {
    const auto* action = qobject_cast<QAction*>(sender());
    if (action && MaybeSave()) OpenFile(action->data().toString());
}

void TViewerWindow::OnClearRecent() {
    FRecentFiles.Clear();
    UpdateRecentMenu();
}

void TViewerWindow::OnReload() {
    if (FDocument.FileName().isEmpty() || FWork->Busy()) return;
    TDibImage before, loaded;
    const QString fileName = FDocument.FileName();
    const TBitmap* shown = FPicture->Picture()->GetBitmap();
    const QString error = RunInBackground(tr("Reading %1").arg(FDocument.DisplayName()), [&] {
        TPicture picture;
        picture.LoadFromFile(fileName);
        loaded = picture.GetBitmap()->Dib();
        before = shown->Dib();
    });
    if (!error.isEmpty()) {
        ReportError(tr("Cannot Reload Picture"), error);
        return;
    }
    FPicture->Picture()->GetBitmap()->Assign(std::move(loaded));
    FDocument.Reloaded(std::move(before));
    PictureReplaced();
}

void TViewerWindow::OnSave() {
    const QString suffix = QFileInfo(FDocument.FileName()).suffix().toLower();
    if (FDocument.FileName().isEmpty() || !TPicture::WritableExtensions().contains(suffix))
        OnSaveAs();
    else
        SaveFile(FDocument.FileName());
}

void TViewerWindow::OnSaveAs() {
    const QStringList writable = TPicture::WritableExtensions();
    QString suffix = QFileInfo(FDocument.FileName()).suffix().toLower();
    if (!writable.contains(suffix)) suffix = "png";
    QFileDialog dialog(this, tr("Save Picture As"));
    dialog.setObjectName("SaveAsDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = NameFilters(writable, false);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(tr("%1 (*.%2)").arg(suffix.toUpper(), suffix));
    // A name typed without an extension gets the chosen filter's, so the format is never a guess.
    dialog.setDefaultSuffix(suffix);
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& Filter) {
        const qsizetype star = Filter.indexOf("*.");
        if (star >= 0) dialog.setDefaultSuffix(Filter.mid(star + 2).chopped(1));
    });
    if (FDocument.FileName().isEmpty())
        dialog.selectFile(FDocument.DisplayName() + "." + suffix);
    else
        dialog.selectFile(QFileInfo(FDocument.FileName()).completeBaseName() + "." + suffix);
    if (!FDocument.FileName().isEmpty()) dialog.setDirectory(QFileInfo(FDocument.FileName()).absolutePath());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        SaveFile(dialog.selectedFiles().front());
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
    const QString error =
        RunInBackground(Back ? tr("Undoing") : tr("Redoing"), [&current, shown] { current = shown->Dib(); });
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

bool TViewerWindow::RunOperation(const QString& Label, TPictureOperation Operation) {
    if (FWork->Busy()) return false;
    TOperationSession session(*FPicture, *FWorker, *FWork);
    if (!session.Begin()) {
        statusBar()->showMessage(tr("%1 cancelled: the picture was not converted to 24 bits").arg(Label),
                                 5000);
        return false;
    }
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
