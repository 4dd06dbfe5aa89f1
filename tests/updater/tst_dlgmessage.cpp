// The message dialog run modally, closed every way a user can close it.
#include <QtTest>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>

#include <functional>

#include "dlgmessage.h"
#include "testenv.h"

namespace {
using Action = std::function<void(DlgMessage &)>;

const QChar ZeroWidthSpace(0x200B);

// count copies of piece, each but the last followed by a zero-width space.
QString pieces(const QString &piece, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << piece;
    return list.join(ZeroWidthSpace);
}

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

// The details dialog as shown: sizes, order top to bottom, and the notes as plain text (shown
// as the text to see, without the zero-width spaces that let long words break).
void checkDetails(DlgMessage &d, const QString &notes, const QString &shown, const QString &size,
                  bool scrolls)
{
    QLabel *question = d.findChild<QLabel *>("label");
    auto *sizeLabel = d.findChild<QLabel *>("sizeLabel");
    auto *notesEdit = d.findChild<QTextEdit *>("notesEdit");
    QWidget *buttons = buttonBox(d);
    QCOMPARE(sizeLabel != nullptr, !size.isEmpty());
    QCOMPARE(notesEdit != nullptr, !notes.isEmpty());
    // The window stays fixed: 398 wide, and exactly today's height without details.
    QCOMPARE(d.width(), 398);
    QCOMPARE(d.minimumSize(), d.maximumSize());
    if (notes.isEmpty() && size.isEmpty()) {
        QCOMPARE(d.size(), QSize(398, 125));
        QCOMPARE(question->minimumSize(), QSize(380, 75));
    } else {
        QVERIFY(d.height() >= 125);
    }
    QVERIFY(question->heightForWidth(question->width()) <= question->height());

    // Top to bottom: question, size, notes, buttons, all inside the window.
    int top = question->geometry().bottom();
    if (sizeLabel) {
        QCOMPARE(sizeLabel->text(), "Download size: " + size);
        QCOMPARE(sizeLabel->textFormat(), Qt::PlainText);
        QVERIFY(sizeLabel->y() > top);
        QVERIFY(sizeLabel->sizeHint().width() <= sizeLabel->width());
        top = sizeLabel->geometry().bottom();
    }
    if (notesEdit) {
        QVERIFY(notesEdit->y() > top);
        QVERIFY(notesEdit->isReadOnly());
        // Shown as typed: markup is never rendered.
        QCOMPARE(notesEdit->toPlainText().remove(ZeroWidthSpace), shown);
        QCOMPARE(notesEdit->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(notesEdit->verticalScrollBar()->maximum() > 0, scrolls);
        top = notesEdit->geometry().bottom();
    }
    if (sizeLabel || notesEdit) {
        QVERIFY(buttons->y() > top);
        QVERIFY(d.rect().contains(buttons->geometry()));
    }
    // Long notes scroll inside a window that stays well within a small screen.
    QVERIFY(d.height() < 480);
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
    void details_data();
    void details();
    void sizeInMegabytes_data();
    void sizeInMegabytes();
    void notesForDisplay_data();
    void notesForDisplay();
    void notesAreCut_data();
    void notesAreCut();
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

void TestDlgMessage::details_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("size");
    QTest::addColumn<bool>("scrolls");

    const QString notes = "Faster page rendering, a new comment panel and fixes for printing.";
    QString longNotes;
    for (int i = 1; i <= 60; ++i)
        longNotes +=
            QString("%1. Fixed a fault in the page cache that showed up on scroll.\n").arg(i);
    const QString markup = "<b>Bold</b> &amp; <a href=\"http://x\">link</a><br><img src=x>";
    QString mixed;
    for (int i = 0; mixed.size() < 1024 * 1024; ++i)
        mixed += QString("Fixed fault %1 in the cache; see http://example.org/faults/%1 ").arg(i);
    QTest::newRow("none") << QString() << QString() << QString() << false;
    QTest::newRow("size only") << QString() << QString() << "45.98 MB" << false;
    QTest::newRow("notes only") << notes << notes << QString() << false;
    QTest::newRow("notes and size") << notes << notes << "45.98 MB" << false;
    QTest::newRow("very long notes") << longNotes << longNotes << "45.98 MB" << true;
    QTest::newRow("markup") << markup << markup << "<i>1</i> MB" << false;
    QTest::newRow("unbroken word") << QString(120, QChar('w')) << QString(120, QChar('w'))
                                   << QString() << false;
    QTest::newRow("a mebibyte without a space")
        << QString(1024 * 1024, QChar('x')) << QString(65536, QChar('x')) + "\n[\u2026]"
        << "45.98 MB" << true;
    QTest::newRow("a mebibyte of words") << mixed << mixed.left(65536) + "\n[\u2026]" << QString()
                                         << true;
}

void TestDlgMessage::details()
{
    QFETCH(QString, notes);
    QFETCH(QString, shown);
    QFETCH(QString, size);
    QFETCH(bool, scrolls);

    QElapsedTimer clock;
    clock.start();
    DlgMessage dialog(nullptr);
    dialog.setInformation("A new version (9.2.0.1) of Zandro Reader is available. Do you want "
                          "to download it?");
    dialog.setDetails(notes, size);
    runModal(dialog, [&](DlgMessage &d) {
        checkDetails(d, notes, shown, size, scrolls);
        click(d, QDialogButtonBox::Ok);
    });
    QVERIFY(dialog.accepted);
    // Generous for sanitizers on a busy machine: laying out a mebibyte without a break used to
    // take minutes.
    QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
}

void TestDlgMessage::sizeInMegabytes_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("expected");

    QTest::newRow("catalogue form") << "48213504B" << "45.98 MB";
    QTest::newRow("one MiB") << "1048576B" << "1.00 MB";
    QTest::newRow("text after B") << "2097152Bytes" << "2.00 MB";
    QTest::newRow("no B") << "1048576" << "1.00 MB";
    QTest::newRow("above 4 GiB") << "6442450944B" << "6144.00 MB";
    QTest::newRow("largest 64-bit") << "9223372036854775807B" << "8796093022208.00 MB";
    QTest::newRow("past 64 bits") << "9223372036854775808B" << "";
    QTest::newRow("zero") << "0B" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("B alone") << "B" << "";
    QTest::newRow("sign") << "-5B" << "";
    QTest::newRow("blank") << " 5B" << "";
    QTest::newRow("other unit") << "46MB" << "";
}

void TestDlgMessage::sizeInMegabytes()
{
    QFETCH(QString, size);
    QFETCH(QString, expected);
    QCOMPARE(DlgMessage::sizeInMegabytes(size), expected);
}

void TestDlgMessage::notesForDisplay_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("shown");

    const QString bold = QString::fromUcs4(U"\U0001D400"); // a letter outside 16 bits
    const QString accented = QString::fromUtf8("e\u0301"); // e and a combining acute
    const QString x8 = QString(8, QChar('x'));
    QTest::newRow("empty") << "" << "";
    const QString lines = "Faster search.\nFewer crashes.";
    QTest::newRow("words and lines") << lines << lines;
    QTest::newRow("256 without a break") << QString(256, 'x') << QString(256, 'x');
    QTest::newRow("257 without a break")
        << QString(257, 'x') << pieces(x8, 32) + ZeroWidthSpace + "x";
    // The run's break opportunity is after its trailing space.
    QTest::newRow("words around a long run")
        << "see " + QString(300, 'y') + " end"
        << "see " + pieces(QString(8, 'y'), 37) + ZeroWidthSpace + "yyyy end";
    // Ideographs may break anywhere already: nothing is added.
    QTest::newRow("ideographs") << QString(300, QChar(0x4E00)) << QString(300, QChar(0x4E00));
    QTest::newRow("surrogate pairs stay whole")
        << bold.repeated(300) << pieces(bold.repeated(8), 37) + ZeroWidthSpace + bold.repeated(4);
    QTest::newRow("combining marks stay with their letter")
        << accented.repeated(200) << pieces(accented.repeated(8), 25);
}

void TestDlgMessage::notesForDisplay()
{
    QFETCH(QString, notes);
    QFETCH(QString, shown);
    QCOMPARE(DlgMessage::notesForDisplay(notes), shown);
}

void TestDlgMessage::notesAreCut_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<int>("kept"); // UTF-16 units of the notes shown; -1: all, without a mark

    const QString bold = QString::fromUcs4(U"\U0001D400");
    QTest::newRow("exactly 64 KiB") << QString(65536, 'x') << -1;
    QTest::newRow("one unit more") << QString(65537, 'x') << 65536;
    QTest::newRow("a mebibyte of words") << QString("word ").repeated(209716) << 65536;
    // Unit 65536 would be the second half of a surrogate pair, or a combining mark.
    QTest::newRow("a pair across the cut") << "a" + bold.repeated(40000) << 65535;
    QTest::newRow("a mark across the cut")
        << QString(65535, 'x') + QString::fromUtf8("e\u0301") << 65535;
}

void TestDlgMessage::notesAreCut()
{
    QFETCH(QString, notes);
    QFETCH(int, kept);
    const QString shown = DlgMessage::notesForDisplay(notes);
    QString text = shown;
    text.remove(ZeroWidthSpace);
    if (kept < 0) {
        QCOMPARE(text, notes);
        return;
    }
    QCOMPARE(text.size(), kept + 4);
    QCOMPARE(text.left(kept), notes.left(kept));
    QCOMPARE(text.mid(kept), QString("\n[\u2026]"));
}

ZANDRO_TEST_MAIN(TestDlgMessage)
#include "tst_dlgmessage.moc"
