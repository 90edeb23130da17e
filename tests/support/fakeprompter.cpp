#include "support/fakeprompter.h"

#include <QDialog>
#include <QWidget>

namespace ravelin::test {

int FakePrompter::message(QWidget* parent, const ui::Message& m)
{
    messages.append({parent ? parent->objectName() : QString(), m});
    events.append(QStringLiteral("message:") + m.text);
    int answer = 0;
    if (!messageAnswers.empty()) {
        answer = messageAnswers.front();
        messageAnswers.pop_front();
    } else if (m.defaultButton) {
        answer = m.defaultButton;
    } else {
        for (int b : {ui::Ok, ui::Yes, ui::Retry, ui::Cancel, ui::No, ui::Abort, ui::Ignore})
            if (m.buttons & b) {
                answer = b;
                break;
            }
        if (!answer)
            answer = ui::Ok;
    }
    if (answer == ui::Help) {
        // Help shows its topic; the box then ends as the next answer says.
        showHelp(m.helpTopic);
        return message(parent, m);
    }
    return answer;
}

void FakePrompter::beep(ui::Beep kind)
{
    beeps.append(kind);
    events.append(QStringLiteral("beep"));
}

QStringList FakePrompter::openFiles(QWidget*, const ui::OpenFileRequest& request)
{
    fileRequests.append(request);
    events.append(QStringLiteral("files:") + request.title);
    if (fileAnswers.empty())
        return {};
    QStringList answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

int FakePrompter::execDialog(QDialog* dialog)
{
    DialogRun run;
    run.className = QString::fromLatin1(dialog->metaObject()->className());
    run.objectName = dialog->objectName();
    run.windowTitle = dialog->windowTitle();
    events.append(QStringLiteral("dialog:") + run.className);
    int result = QDialog::Rejected;
    if (!dialogHandlers.empty()) {
        auto handler = std::move(dialogHandlers.front());
        dialogHandlers.pop_front();
        result = handler(dialog);
    }
    if (dialog->isVisible())
        dialog->hide();
    run.result = result;
    dialogs.append(run);
    return result;
}

bool FakePrompter::openUrl(const QUrl& url)
{
    urls.append(url);
    events.append(QStringLiteral("url:") + url.toString());
    return openUrlResult;
}

void FakePrompter::showHelp(int topic)
{
    helpTopics.append(topic);
    events.append(QStringLiteral("help:") + QString::number(topic));
}

QStringList FakePrompter::messageTexts() const
{
    QStringList texts;
    for (const auto& m : messages)
        texts.append(m.message.text);
    return texts;
}

void FakePrompter::clear()
{
    messageAnswers.clear();
    fileAnswers.clear();
    dialogHandlers.clear();
    messages.clear();
    beeps.clear();
    fileRequests.clear();
    dialogs.clear();
    urls.clear();
    helpTopics.clear();
    events.clear();
}

} // namespace ravelin::test
