// TFileActions: the viewer's work with files: opening (the Open dialog, Open Recent, drops, the folder's
// next and previous picture), reloading, saving, the question about unsaved changes, and the recent files.
// Files are read and written off the GUI thread; the picture shown changes only once they are.
#pragma once

#include "FileFacts.h"
#include "RecentFiles.h"

#include <QKeySequence>
#include <QObject>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class TBackgroundWork;
class TKvPictura;
class TViewerDocument;

class TFileActions : public QObject {
    Q_OBJECT
public:
    // Window hosts the actions and dialogs; Shown is the picture shown, Document its file and history,
    // Work the window's background work; Settings keeps the recent files.
    TFileActions(QMainWindow& Window, TKvPictura& Shown, TViewerDocument& Document, TBackgroundWork& Work,
                 QSettings& Settings);

    // Reads FileName off the GUI thread and shows it. On failure an error names the file and the reason,
    // and the picture shown stays as it was. False at once while other work runs.
    bool OpenFile(const QString& FileName);
    // Writes the picture off the GUI thread in the format FileName's extension names. On failure an error
    // names the file and the reason; the picture and any existing file stay as they were.
    bool SaveFile(const QString& FileName);
    // Asks whether to save a modified picture; false when the user cancels.
    bool MaybeSave();
    // Opens the picture Step places after or before the open one in its folder.
    void StepThroughFolder(int Step);

    // Off: opening and saving leave the recent files alone (for runs nobody watches).
    void SetKeepsRecentFiles(bool Value) { FKeepsRecentFiles = Value; }
    const TRecentFiles& RecentFiles() const { return FRecentFiles; }
    // The open picture's file: its size and its place in its folder.
    const TFileFacts& FileFacts() const { return FFileFacts; }
    // Enables the actions: Idle when no work runs, HasPicture when a picture is shown.
    void UpdateActions(bool HasPicture, bool Idle);
    // Lists the recent files in their menu.
    void UpdateRecentMenu();

    QAction* OpenAction() const { return FOpenAction; }
    QAction* ReloadAction() const { return FReloadAction; }
    QAction* SaveAction() const { return FSaveAction; }
    QAction* SaveAsAction() const { return FSaveAsAction; }
    QAction* NextAction() const { return FNextAction; }
    QAction* PreviousAction() const { return FPreviousAction; }
    QMenu* RecentMenu() const { return FRecentMenu; }

signals:
    // A picture was opened from a file and is shown; KeepZoom when it was the folder's next or previous.
    void Opened(bool KeepZoom);
    // The picture shown or its document changed (saved, reloaded).
    void PictureChanged();
    // The recent files changed: the actions that depend on them may change.
    void RecentFilesChanged();
    // An error for the user: a short title and a message naming the file and the reason.
    void Error(const QString& Title, const QString& Message);

private slots:
    void OnOpen();
    void OnOpenRecent();
    void OnClearRecent();
    void OnReload();
    void OnSave();
    void OnSaveAs();

private:
    QAction* MakeAction(const char* Name, const QString& Text, std::function<void()> Slot,
                        const QKeySequence& Keys = {});

    QMainWindow& FWindow;
    TKvPictura& FShown;
    TViewerDocument& FDocument;
    TBackgroundWork& FWork;
    TRecentFiles FRecentFiles;
    bool FKeepsRecentFiles = true;
    bool FSteppingThroughFolder = false; // an open by Page Up or Page Down keeps the user's zoom
    TFileFacts FFileFacts;

    QAction* FOpenAction;
    QAction* FReloadAction;
    QAction* FSaveAction;
    QAction* FSaveAsAction;
    QAction* FClearRecentAction;
    QAction* FNextAction;
    QAction* FPreviousAction;
    QMenu* FRecentMenu;
};
