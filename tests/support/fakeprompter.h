#pragma once
// A scripted Prompter for tests: answers come from queues, in order, and
// everything shown is recorded. Install it with FakePrompter::Scope so the
// previous prompter comes back when the test ends.
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>

#include "ui/prompter.h"

class QDialog;

namespace ravelin::test {

class FakePrompter : public ui::Prompter {
public:
    struct ShownMessage {
        QString parentObjectName; // objectName of the owner window (may be empty)
        ui::Message message;
    };
    struct DialogRun {
        QString className; // metaObject()->className() of the dialog
        QString objectName;
        QString windowTitle;
        int result = 0;
    };

    // Answers. An empty queue gives the defaults: messages answer the default
    // button or else the first of OK, Yes, Cancel...; file dialogs answer
    // "cancelled"; dialogs are rejected; URLs open.
    std::deque<int> messageAnswers;
    std::deque<QStringList> fileAnswers;
    // Each handler receives the live dialog (not yet shown) and returns the
    // result to report; it may show it, click its buttons, call accept().
    std::deque<std::function<int(QDialog*)>> dialogHandlers;
    bool openUrlResult = true;

    // Records, in the order things happened.
    QList<ShownMessage> messages;
    QList<ui::Beep> beeps;
    QList<ui::OpenFileRequest> fileRequests;
    QList<DialogRun> dialogs;
    QList<QUrl> urls;
    QList<int> helpTopics;
    QStringList
        events; // "message:<text>", "beep", "files:<title>", "dialog:<class>", "url:<url>", "help:<n>"

    int message(QWidget* parent, const ui::Message& message) override;
    void beep(ui::Beep kind) override;
    QStringList openFiles(QWidget* parent, const ui::OpenFileRequest& request) override;
    int execDialog(QDialog* dialog) override;
    bool openUrl(const QUrl& url) override;
    void showHelp(int topic) override;

    // The texts of every message shown so far.
    QStringList messageTexts() const;
    void clear();

    // Installs a prompter for the lifetime of the scope.
    class Scope {
    public:
        explicit Scope(FakePrompter& p) { ui::setPrompter(&p); }
        ~Scope() { ui::setPrompter(nullptr); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };
};

} // namespace ravelin::test
