#pragma once
// What the wizard tests share: the scripted prompter and, for each test, a
// fresh temporary folder with an empty output folder "out" in it.
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "support/fakeprompter.h"
#include "ui/prompter.h"

namespace ravelin::test {

inline void click(QPushButton* b)
{
    QTest::mouseClick(b, Qt::LeftButton);
}

class WizardFixture {
protected:
    FakePrompter m_fake;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;

    QString out(const QString& name) const { return m_out + QLatin1Char('/') + name; }

    QStringList filesInOutput() const
    {
        return QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

    // For init(): forgets what was shown and makes the folders afresh.
    void prepareOutput()
    {
        m_fake.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_out = m_dir->filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(m_out));
    }
};

} // namespace ravelin::test
