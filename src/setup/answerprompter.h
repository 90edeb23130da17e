#pragma once
// Answers for a setup run without anyone at the screen ("SETUP.EXE
// --answers FILE"): the setup program's own dialogs are filled in and their
// buttons pressed as a user would, so the same steps run; every message is
// written to standard error instead of being shown, and answered with its
// default button.
//
// The answer file is UTF-8 text, one "key=value" a line (LF or CR LF):
//   pass-phrase=<the pass phrase>     typed into the pass-phrase dialog
//   destination=<folder>              typed into the ready dialog (optional;
//                                     without it the shown folder is kept)
//   ready=next | cancel               the ready dialog's button (default next)
// Blank lines and lines starting with "#" are skipped. A pass-phrase dialog
// that stays open after Next (a decryption error) is cancelled; the folder
// picker is cancelled.
//
// Threads: user-interface thread only.
#include <QString>
#include <optional>
#include <string>

#include "ui/prompter.h"

namespace ravelin::setup {

struct Answers {
    QString passPhrase;
    std::optional<QString> destination;
    bool cancelInReady = false;
};

// Parses the answer file's text. False with `error` naming the line for an
// unknown key, a line without "=", or a bad ready value.
bool parseAnswers(const QByteArray& text, Answers* answers, QString* error);

// Reads and parses the file at `path` (bytes). False with `error` set.
bool readAnswers(const std::string& path, Answers* answers, QString* error);

class AnswerPrompter final : public ui::Prompter {
public:
    explicit AnswerPrompter(Answers answers) : m_answers(std::move(answers)) {}

    int message(QWidget* parent, const ui::Message& message) override;
    void beep(ui::Beep) override {}
    QStringList openFiles(QWidget*, const ui::OpenFileRequest&) override { return {}; }
    int execDialog(QDialog* dialog) override;
    bool openUrl(const QUrl&) override { return false; }
    void showHelp(int) override {}

private:
    Answers m_answers;
};

} // namespace ravelin::setup
