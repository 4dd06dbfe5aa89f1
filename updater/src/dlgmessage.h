// The one message box of the updater: a fixed-size window with a text and OK (and optionally
// Cancel). It always closes through reject(); the caller reads `accepted` afterwards, never the
// result of exec(). The download question can carry details under the text (download size and
// release notes); only then does the window grow past its fixed 398 x 125.
#ifndef UPDATER_SRC_DLGMESSAGE_H
#define UPDATER_SRC_DLGMESSAGE_H

#include <QDialog>
#include <QString>

class QLabel;
class QTextEdit;
class Ui_DlgMessage;

class DlgMessage : public QDialog
{
    Q_OBJECT
public:
    explicit DlgMessage(QWidget *parent = nullptr);
    ~DlgMessage() override;

    // Replaces the text shown above the buttons.
    void setInformation(const QString &text);
    // Renames the OK button; does nothing once OK has gone.
    void setOkButtonText(const QString &text);
    // Leaves the OK button alone in the box.
    void setStandardButtonsOk();
    // Shows under the text a "Download size: <sizeText>" line when sizeText is not empty, and the
    // notes, when not empty, as plain text (markup is shown, never rendered) in a read-only,
    // word-wrapped area that scrolls past about 12 lines, in the form notesForDisplay gives. The
    // window grows to fit, keeping its width. With both empty nothing changes. Requires: called
    // once, before the window is shown.
    void setDetails(const QString &notes, const QString &sizeText);

    // Notes as a text box can lay out in time: at most MaxNotesLength UTF-16 units of them, cut
    // at a character boundary and followed by a line "[…]" when cut, and a zero-width space
    // after every few characters of a run longer than LongRunLength without a place to break
    // the line. Other text comes back as it is.
    static QString notesForDisplay(const QString &notes);
    static constexpr int MaxNotesLength = 64 * 1024;
    static constexpr int LongRunLength = 256;

    // The size of a module as its catalogue gives it ("48213504B": the digits before the first
    // "B", a 64-bit count of bytes) in MiB with two decimals ("45.98 MB"), as the download
    // window counts; empty when the text holds no such number or the number is 0.
    static QString sizeInMegabytes(const QString &moduleSize);

    // True once the user has pressed OK; Cancel, Escape and the title bar's close leave it false.
    bool accepted;

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

private:
    Ui_DlgMessage *ui;
    QLabel *sizeLabel;
    QLabel *notesLabel;
    QTextEdit *notesEdit;
};

#endif // UPDATER_SRC_DLGMESSAGE_H
