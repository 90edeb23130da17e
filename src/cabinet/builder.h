#pragma once
// The cabinet builder: turns the rows of the file list into one MSZIP
// cabinet "output directory/cabinet name.cab" through the cabinet library,
// and reports every failure in a message box (through the prompter).
//
// The builder state (the open compression context and its cabinet path)
// belongs to the main window for its whole life: builderFor(window) gives
// the window's one builder, created on first use as a child object, so it
// goes with the window. User-interface thread only; the library's callbacks
// run on this thread too (only its compression runs on worker threads).
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

#include "cabinet/writer/cabwriter.h"

class QProgressBar;
class QWidget;

namespace ravelin::cabinet {

struct BuildResult {
    bool completed = false;  // the cabinet was flushed and the context closed
    QString cabinetPath;     // the cabinet written (or meant to be)
    QStringList failedFiles; // sources that did not go in
};

class CabinetBuilder : public QObject {
    Q_OBJECT
public:
    // What the build shows its progress on; all owned by the window.
    struct Widgets {
        QWidget* owner = nullptr;         // parent of the message boxes
        QProgressBar* progress = nullptr; // range 0 .. files, advanced once per file
        QWidget* statusBar = nullptr;     // hidden while the files are added
    };

    explicit CabinetBuilder(QObject* parent = nullptr);
    ~CabinetBuilder() override; // abandons a cabinet left open

    // One build with the given settings and the list's current rows. The
    // cabinet is written under a hidden name beside its final path and
    // renamed over it only after a good flush and close: a build that fails
    // leaves an earlier cabinet of that name exactly as it was. Shows its own
    // messages: a cabinet name or directory over 255 bytes is refused before
    // anything is written; a listed file that is the cabinet itself (or, with
    // `selfExtracting`, the .exe made from it) is refused before anything is
    // written; the cabinet file that cannot be created;
    // a context still open; no context; the files that could not be added
    // (one message naming each with the library's text); the flush and the
    // closing failures.
    // `files` are full paths in the order they go in (the list's rows from
    // the last to the first); each is stored under its bare name.
    BuildResult DoCabStuffNow(const Widgets& widgets, const QStringList& files, const QString& cabinetName,
                              const QString& outputDirectory, bool selfExtracting = false);

    // Full path of the cabinet while a context is open; empty otherwise.
    QString currentCabinetPath() const { return m_currentCabinetPath; }
    // Worker threads for the next context (0: one per processor).
    void setWorkerThreads(unsigned count) { m_threads = count; }

private:
    QString m_currentCabinetPath;
    cabwriter::CabinetWriter m_writer; // open while a build runs
    QStringList m_pathList;
    unsigned m_threads = 0;
};

// The builder of `window`, made on first use as its child.
CabinetBuilder* builderFor(QObject* window);

// The message text for a library error code, as the flush message shows it.
QString errorText(int code);

} // namespace ravelin::cabinet
