// The message dialog run modally, closed every way a user can close it.
#include <QtTest>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include <functional>

#include "dlgmessage.h"
#include "testenv.h"

namespace {
using Action = std::function<void(DlgMessage &)>;

QDialogButtonBox *buttonBox(DlgMessage &dialog)
{
    return dialog.findChild<QDialogButtonBox *>("buttonBox");
}

void click(DlgMessage &dialog, QDialogButtonBox::StandardButton which)
{
    QPushButton *button = buttonBox(dialog)->button(which);
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

// Runs the dialog modally and does the action from inside its event loop; returns exec()'s code.
int runModal(DlgMessage &dialog, const Action &action)
{
    QTimer::singleShot(0, &dialog, [&dialog, action] {
        QVERIFY(dialog.isVisible());
        action(dialog);
    });
    return dialog.exec();
}
} // namespace

Q_DECLARE_METATYPE(Action)

class TestDlgMessage : public QObject
{
    Q_OBJECT
private slots:
    void closing_data();
    void closing();
    void okOnly();
    void okButtonText();
    void longTextWrapsInsideFixedSize();
};

void TestDlgMessage::closing_data()
{
    QTest::addColumn<bool>("okOnly");
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("accepted");

    const Action ok = [](DlgMessage &d) { click(d, QDialogButtonBox::Ok); };
    const Action cancel = [](DlgMessage &d) { click(d, QDialogButtonBox::Cancel); };
    const Action escape = [](DlgMessage &d) { QTest::keyClick(&d, Qt::Key_Escape); };
    const Action titleBarClose = [](DlgMessage &d) { d.close(); };

    QTest::newRow("OK") << false << ok << true;
    QTest::newRow("Cancel") << false << cancel << false;
    QTest::newRow("Escape") << false << escape << false;
    QTest::newRow("title bar close") << false << titleBarClose << false;
    QTest::newRow("OK alone, pressed") << true << ok << true;
    QTest::newRow("OK alone, title bar close") << true << titleBarClose << false;
}

void TestDlgMessage::closing()
{
    QFETCH(bool, okOnly);
    QFETCH(Action, action);
    QFETCH(bool, accepted);

    DlgMessage dialog(nullptr);
    dialog.setInformation("Zandro Reader is already up to date.");
    if (okOnly)
        dialog.setStandardButtonsOk();
    QVERIFY(!dialog.accepted);
    // Every way out goes through reject(): the modal run's own result is never "accepted".
    QCOMPARE(runModal(dialog, action), int(QDialog::Rejected));
    QCOMPARE(dialog.accepted, accepted);
    QVERIFY(!dialog.isVisible());
}

void TestDlgMessage::okOnly()
{
    DlgMessage dialog(nullptr);
    dialog.setStandardButtonsOk();
    const QList<QAbstractButton *> buttons = buttonBox(dialog)->buttons();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttonBox(dialog)->standardButton(buttons.first()), QDialogButtonBox::Ok);
}

void TestDlgMessage::okButtonText()
{
    DlgMessage dialog(nullptr);
    dialog.setOkButtonText("Install");
    QCOMPARE(buttonBox(dialog)->button(QDialogButtonBox::Ok)->text(), QString("Install"));
    QVERIFY(buttonBox(dialog)->button(QDialogButtonBox::Cancel));
    // The renamed button still accepts.
    runModal(dialog, [](DlgMessage &d) { click(d, QDialogButtonBox::Ok); });
    QVERIFY(dialog.accepted);
}

void TestDlgMessage::longTextWrapsInsideFixedSize()
{
    DlgMessage dialog(nullptr);
    const QString text = "Download completed. Please close Zandro Reader when you complete your "
                         "job, and click \"Install\".";
    dialog.setInformation(text);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(398, 125));
    QLabel *label = dialog.findChild<QLabel *>("label");
    QCOMPARE(label->text(), text);
    QVERIFY(label->alignment() & Qt::AlignTop);
    const QFontMetrics metrics(label->font());
    // Too wide for one line, yet it fits the label once wrapped.
    QVERIFY(metrics.horizontalAdvance(text) > label->width());
    QVERIFY(label->heightForWidth(label->width()) <= label->height());
    QVERIFY(label->geometry().right() < dialog.width());
}

ZANDRO_TEST_MAIN(TestDlgMessage)
#include "tst_dlgmessage.moc"
