#include "FileActions.h"

#include "ActionKeys.h"
#include "BackgroundWork.h"
#include "FolderPictures.h"
#include "ViewerDocument.h"

#include <pictura/KvPictura.h>

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>

namespace {

// The picture of FileName as image viewers show it: turned upright from its EXIF orientation (which
// its metadata then says), so that saving it keeps what was shown.
TDibImage LoadUpright(const QString& FileName, TPictureMetadata& Metadata) {
    TPicture picture;
    picture.LoadFromFile(FileName);
    picture.AutoOrient();
    Metadata = picture.Metadata();
    return picture.GetBitmap()->TakeDib();
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

} // namespace

TFileActions::TFileActions(QMainWindow& Window, TKvPictura& Shown, TViewerDocument& Document,
                           TBackgroundWork& Work, QSettings& Settings)
    : QObject(&Window), FWindow(Window), FShown(Shown), FDocument(Document), FWork(Work),
      FRecentFiles(Settings) {
    const auto icon = [this](const char* Theme, QStyle::StandardPixmap Fallback) {
        return QIcon::fromTheme(Theme, FWindow.style()->standardIcon(Fallback));
    };
    FOpenAction = MakeAction(
        "OpenAction", tr("&Open..."), [this] { OnOpen(); }, QKeySequence::Open);
    FOpenAction->setIcon(icon("document-open", QStyle::SP_DialogOpenButton));
    FOpenAction->setStatusTip(tr("Open a picture file"));
    FReloadAction = MakeAction(
        "ReloadAction", tr("&Reload"), [this] { OnReload(); }, QKeySequence::Refresh);
    FReloadAction->setIcon(icon("view-refresh", QStyle::SP_BrowserReload));
    FReloadAction->setStatusTip(tr("Read the file again (the current picture stays one undo step away)"));
    FSaveAction = MakeAction(
        "SaveAction", tr("&Save"), [this] { OnSave(); }, QKeySequence::Save);
    FSaveAction->setIcon(icon("document-save", QStyle::SP_DialogSaveButton));
    FSaveAsAction = MakeAction("SaveAsAction", tr("Save &As..."), [this] { OnSaveAs(); });
    // Ctrl+Shift+S everywhere, as image programs have it, also where the platform names no Save As key.
    FSaveAsAction->setShortcuts(KeysOnce(QKeySequence(tr("Ctrl+Shift+S")), QKeySequence::SaveAs));
    FSaveAsAction->setIcon(icon("document-save-as", QStyle::SP_DialogSaveButton));
    FSaveAsAction->setStatusTip(tr("Write the picture to a file; the extension chooses the format"));
    FClearRecentAction = MakeAction("ClearRecentAction", tr("&Clear Menu"), [this] { OnClearRecent(); });
    FNextAction = MakeAction(
        "NextPictureAction", tr("&Next Picture"), [this] { StepThroughFolder(+1); },
        QKeySequence(Qt::Key_PageDown));
    FNextAction->setStatusTip(tr("Open the next picture of the folder"));
    FPreviousAction = MakeAction(
        "PreviousPictureAction", tr("&Previous Picture"), [this] { StepThroughFolder(-1); },
        QKeySequence(Qt::Key_PageUp));
    FPreviousAction->setStatusTip(tr("Open the previous picture of the folder"));
    FRecentMenu = new QMenu(tr("Open &Recent"), &FWindow);
    FRecentMenu->setObjectName("RecentMenu");
}

QAction* TFileActions::MakeAction(const char* Name, const QString& Text, std::function<void()> Slot,
                                  const QKeySequence& Keys) {
    auto* action = new QAction(Text, &FWindow);
    action->setObjectName(Name);
    if (!Keys.isEmpty()) action->setShortcut(Keys);
    connect(action, &QAction::triggered, this, std::move(Slot));
    return action;
}

void TFileActions::UpdateActions(bool HasPicture, bool Idle) {
    for (QAction* action : {FSaveAction, FSaveAsAction})
        action->setEnabled(HasPicture && Idle);
    FOpenAction->setEnabled(Idle);
    for (QAction* action : {FReloadAction, FNextAction, FPreviousAction})
        action->setEnabled(Idle && !FDocument.FileName().isEmpty());
    const bool hasRecent = !FRecentFiles.Files().isEmpty();
    FClearRecentAction->setEnabled(hasRecent);
    FRecentMenu->setEnabled(Idle && hasRecent);
}

void TFileActions::UpdateRecentMenu() {
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
        connect(action, &QAction::triggered, this, &TFileActions::OnOpenRecent);
    }
    if (!files.isEmpty()) FRecentMenu->addSeparator();
    FRecentMenu->addAction(FClearRecentAction);
    emit RecentFilesChanged();
}

void TFileActions::StepThroughFolder(int Step) {
    if (FDocument.FileName().isEmpty() || FWork.Busy()) return;
    const QString next = NeighbourPicture(FDocument.FileName(), Step);
    if (next.isEmpty()) {
        FWindow.statusBar()->showMessage(Step > 0 ? tr("This is the folder's last picture")
                                                  : tr("This is the folder's first picture"),
                                         3000);
        return;
    }
    // The zoom the user chose stays while stepping through the folder.
    FSteppingThroughFolder = true;
    if (MaybeSave()) OpenFile(next);
    FSteppingThroughFolder = false;
}

bool TFileActions::OpenFile(const QString& FileName) {
    if (FWork.Busy()) return false;
    TDibImage loaded;
    TPictureMetadata metadata;
    const QString error = RunAndWait(FWork, tr("Opening %1").arg(QFileInfo(FileName).fileName()),
                                     [&] { loaded = LoadUpright(FileName, metadata); });
    if (!error.isEmpty()) {
        if (FKeepsRecentFiles && !QFileInfo::exists(FileName)) {
            FRecentFiles.Remove(FileName);
            UpdateRecentMenu();
        }
        emit Error(tr("Cannot Open Picture"), error);
        return false;
    }
    FShown.Picture()->Metadata() = std::move(metadata);
    FShown.Picture()->GetBitmap()->Assign(std::move(loaded));
    FDocument.Opened(QFileInfo(FileName).absoluteFilePath());
    FFileFacts = TFileFacts::Of(FDocument.FileName());
    if (FKeepsRecentFiles) FRecentFiles.Add(FileName);
    UpdateRecentMenu();
    emit Opened(FSteppingThroughFolder);
    return true;
}

bool TFileActions::SaveFile(const QString& FileName) {
    if (FWork.Busy()) return false;
    // The work only reads the shown picture, which changes only once it has ended.
    const TPicture* shown = FShown.Picture();
    const QString error = RunAndWait(FWork, tr("Saving %1").arg(QFileInfo(FileName).fileName()),
                                     [shown, FileName] { shown->SaveToFile(FileName); });
    if (!error.isEmpty()) {
        emit Error(tr("Cannot Save Picture"), error);
        return false;
    }
    FDocument.Saved(QFileInfo(FileName).absoluteFilePath());
    FFileFacts = TFileFacts::Of(FDocument.FileName());
    if (FKeepsRecentFiles) FRecentFiles.Add(FileName);
    UpdateRecentMenu();
    emit PictureChanged();
    return true;
}

bool TFileActions::MaybeSave() {
    if (!FDocument.Modified()) return true;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        &FWindow, tr("Unsaved Changes"),
        tr("The picture \u201c%1\u201d has been changed.\nDo you want to save the changes?")
            .arg(FDocument.DisplayName()),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::Discard) return true;
    OnSave();
    return !FDocument.Modified();
}

void TFileActions::OnOpen() {
    if (!MaybeSave()) return;
    QFileDialog dialog(&FWindow, tr("Open Picture"));
    dialog.setObjectName("OpenDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFilters(TPicture::ReadableExtensions(), true));
    if (!FDocument.FileName().isEmpty()) dialog.setDirectory(QFileInfo(FDocument.FileName()).absolutePath());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        OpenFile(dialog.selectedFiles().front());
}

void TFileActions::OnOpenRecent() {
    const auto* action = qobject_cast<QAction*>(sender());
    if (action && MaybeSave()) OpenFile(action->data().toString());
}

void TFileActions::OnClearRecent() {
    FRecentFiles.Clear();
    UpdateRecentMenu();
}

void TFileActions::OnReload() {
    if (FDocument.FileName().isEmpty() || FWork.Busy()) return;
    TDibImage before, loaded;
    TPictureMetadata metadata;
    const QString fileName = FDocument.FileName();
    const TBitmap* shown = FShown.Picture()->GetBitmap();
    const QString error = RunAndWait(FWork, tr("Reading %1").arg(FDocument.DisplayName()), [&] {
        loaded = LoadUpright(fileName, metadata);
        before = shown->Dib();
    });
    if (!error.isEmpty()) {
        emit Error(tr("Cannot Reload Picture"), error);
        return;
    }
    FShown.Picture()->Metadata() = std::move(metadata);
    FShown.Picture()->GetBitmap()->Assign(std::move(loaded));
    FDocument.Reloaded(std::move(before));
    FFileFacts = TFileFacts::Of(fileName);
    emit PictureChanged();
}

void TFileActions::OnSave() {
    const QString suffix = QFileInfo(FDocument.FileName()).suffix().toLower();
    if (FDocument.FileName().isEmpty() || !TPicture::WritableExtensions().contains(suffix))
        OnSaveAs();
    else
        SaveFile(FDocument.FileName());
}

void TFileActions::OnSaveAs() {
    const QStringList writable = TPicture::WritableExtensions();
    QString suffix = QFileInfo(FDocument.FileName()).suffix().toLower();
    if (!writable.contains(suffix)) suffix = "png";
    QFileDialog dialog(&FWindow, tr("Save Picture As"));
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
