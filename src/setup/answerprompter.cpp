#include "setup/answerprompter.h"

#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

#include "platform/io.h"
#include "setup/setupwindows.h"

namespace ravelin::setup {

// An answer file is a few short lines.
static constexpr std::size_t kMaxAnswersSize = 64 * 1024;

bool parseAnswers(const QByteArray& text, Answers* answers, QString* error)
{
    *answers = Answers();
    int number = 0;
    for (QByteArray line : text.split('\n')) {
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) {
            *error = QStringLiteral("line %1: no \"=\"").arg(number);
            return false;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        if (key == "pass-phrase") {
            answers->passPhrase = value;
        } else if (key == "destination") {
            answers->destination = value;
        } else if (key == "ready" && (value == u"next" || value == u"cancel")) {
            answers->cancelInReady = value == u"cancel";
        } else {
            *error =
                QStringLiteral("line %1: unknown answer \"%2\"").arg(number).arg(QString::fromUtf8(line));
            return false;
        }
    }
    return true;
}

bool readAnswers(const std::string& path, Answers* answers, QString* error)
{
    std::string content;
    int failed = 0;
    if (!io::readSmallFile(path, &content, kMaxAnswersSize, &failed)) {
        *error = QString::fromLocal8Bit(io::describe(path, failed));
        return false;
    }
    if (!parseAnswers(QByteArray::fromStdString(content), answers, error)) {
        *error = QString::fromLocal8Bit(path) + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

int AnswerPrompter::message(QWidget*, const ui::Message& message)
{
    const QByteArray text = message.text.toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
    if (message.defaultButton != ui::NoButton)
        return message.defaultButton;
    for (const ui::Button b : {ui::Ok, ui::Yes, ui::Cancel, ui::No, ui::Retry, ui::Abort, ui::Ignore})
        if (message.buttons & b)
            return b;
    return ui::Ok;
}

int AnswerPrompter::execDialog(QDialog* dialog)
{
    // Each dialog is shown (so it prepares itself as for a user), filled in
    // and left by one of its own buttons.
    if (auto* d = qobject_cast<PassPhraseDialog*>(dialog)) {
        d->show();
        d->Edit1->setText(m_answers.passPhrase);
        d->Button1->click();
        if (d->isVisible())
            d->Button2->click();
        return d->result();
    }
    if (auto* d = qobject_cast<ReadmeDialog*>(dialog)) {
        d->show();
        d->Button1->click();
        return d->result();
    }
    if (auto* d = qobject_cast<ReadyDialog*>(dialog)) {
        d->show();
        if (m_answers.destination)
            d->Edit1->setText(*m_answers.destination);
        (m_answers.cancelInReady ? d->Button2 : d->Button1)->click();
        if (d->isVisible())
            d->Button2->click();
        return d->result();
    }
    return QDialog::Rejected;
}

} // namespace ravelin::setup
