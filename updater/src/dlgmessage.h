// The one message box of the updater: a fixed-size window with a text and OK (and optionally
// Cancel). It always closes through reject(); the caller reads `accepted` afterwards, never the
// result of exec().
#ifndef UPDATER_SRC_DLGMESSAGE_H
#define UPDATER_SRC_DLGMESSAGE_H

#include <QDialog>
#include <QString>

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

    // True once the user has pressed OK; Cancel, Escape and the title bar's close leave it false.
    bool accepted;

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

private:
    Ui_DlgMessage *ui;
};

#endif // UPDATER_SRC_DLGMESSAGE_H
