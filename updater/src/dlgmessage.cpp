#include "dlgmessage.h"

#include <QDialogButtonBox>
#include <QPushButton>

#include "ui_dlgmessage.h"

DlgMessage::DlgMessage(QWidget *parent) : QDialog(parent), accepted(false), ui(new Ui_DlgMessage)
{
    ui->setupUi(this);
    setFixedSize(398, 125);
    // A title bar with a close button only: no minimise, maximise or context-help button.
    setWindowFlags(Qt::WindowCloseButtonHint);
}

DlgMessage::~DlgMessage()
{
    delete ui;
}

void DlgMessage::setInformation(const QString &text)
{
    ui->label->setText(text);
}

void DlgMessage::setOkButtonText(const QString &text)
{
    if (QPushButton *ok = ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setText(text);
}

void DlgMessage::setStandardButtonsOk()
{
    ui->buttonBox->setStandardButtons(QDialogButtonBox::Ok);
}

void DlgMessage::on_buttonBox_accepted()
{
    accepted = true;
    reject();
}

void DlgMessage::on_buttonBox_rejected()
{
    reject();
}
