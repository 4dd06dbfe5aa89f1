#include "dlgmessage.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

#include "ui_dlgmessage.h"

namespace {
const int kWidth = 398;
const int kHeight = 125;
// The notes scroll rather than make the window taller than this many lines of text.
const int kMaxNoteLines = 12;
// Shown after notes that were cut.
const char kCutMark[] = "\n[\u2026]";
// A long run gets a break opportunity after every this many characters.
const int kRunPiece = 8;
const QChar kZeroWidthSpace(0x200B);

// The end of the longest prefix of at most length units that ends between two characters.
int characterBoundaryBefore(const QString &text, int length)
{
    // One unit more is enough to tell whether length itself is a boundary.
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text.constData(),
                                   qMin(text.size(), length + 1));
    characters.setPosition(length);
    return characters.isAtBoundary() ? length : qMax(0, characters.toPreviousBoundary());
}

// Appends text[start, end) to out with a zero-width space after every kRunPiece characters
// (never at the end, never inside a character).
void appendInPieces(QString &out, const QString &text, int start, int end)
{
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text.constData() + start,
                                   end - start);
    int from = 0;
    int counted = 0;
    for (int at = characters.toNextBoundary(); at > 0 && at < end - start;
         at = characters.toNextBoundary()) {
        if (++counted < kRunPiece)
            continue;
        out += text.midRef(start + from, at - from);
        out += kZeroWidthSpace;
        from = at;
        counted = 0;
    }
    out += text.midRef(start + from, end - start - from);
}
} // namespace

DlgMessage::DlgMessage(QWidget *parent)
    : QDialog(parent), accepted(false), ui(new Ui_DlgMessage), sizeLabel(nullptr),
      notesLabel(nullptr), notesEdit(nullptr)
{
    ui->setupUi(this);
    setFixedSize(kWidth, kHeight);
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

void DlgMessage::setDetails(const QString &notes, const QString &sizeText)
{
    if (notes.isEmpty() && sizeText.isEmpty())
        return;
    const QString shownNotes = notesForDisplay(notes);
    auto *column = static_cast<QVBoxLayout *>(layout());
    int row = column->indexOf(ui->label) + 1;
    // The question's reserved height only filled the empty space of the fixed window.
    ui->label->setMinimumHeight(0);
    if (!sizeText.isEmpty()) {
        sizeLabel = new QLabel(tr("Download size: %1").arg(sizeText), this);
        sizeLabel->setObjectName(QStringLiteral("sizeLabel"));
        sizeLabel->setTextFormat(Qt::PlainText);
        column->insertWidget(row++, sizeLabel);
    }
    if (!notes.isEmpty()) {
        notesLabel = new QLabel(tr("Release notes:"), this);
        notesLabel->setObjectName(QStringLiteral("notesLabel"));
        column->insertWidget(row++, notesLabel);
        notesEdit = new QTextEdit(this);
        notesEdit->setObjectName(QStringLiteral("notesEdit"));
        notesEdit->setReadOnly(true);
        notesEdit->setAcceptRichText(false);
        notesEdit->setLineWrapMode(QTextEdit::WidgetWidth);
        // A long unbroken word (a link, a path) wraps too: the area never scrolls sideways.
        notesEdit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        notesEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        notesEdit->setPlainText(shownNotes);
        column->insertWidget(row++, notesEdit, 1);
    }

    const QMargins margins = column->contentsMargins();
    if (notesEdit) {
        // Tall enough for the notes wrapped at the width they will have, up to the line limit.
        // The edit lays its own document out only once shown, so a copy is measured.
        const int frame = 2 * notesEdit->frameWidth();
        QTextDocument measure;
        measure.setDefaultFont(notesEdit->font());
        measure.setDefaultTextOption(notesEdit->document()->defaultTextOption());
        measure.setDocumentMargin(notesEdit->document()->documentMargin());
        measure.setPlainText(shownNotes);
        measure.setTextWidth(kWidth - margins.left() - margins.right() - frame);
        const int needed = int(measure.size().height() + 0.99) + frame;
        const int limit = notesEdit->fontMetrics().lineSpacing() * kMaxNoteLines + frame;
        notesEdit->setFixedHeight(qMin(needed, limit));
    }
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(kWidth, qMax(kHeight, heightForWidth(kWidth)));
}

QString DlgMessage::notesForDisplay(const QString &notes)
{
    const bool cut = notes.size() > MaxNotesLength;
    const QString kept = cut ? notes.left(characterBoundaryBefore(notes, MaxNotesLength)) : notes;
    // Laying out a line, the text box measures the whole rest of an unbroken word before it
    // breaks the word anywhere: a megabyte without a break took minutes. Breaks every few
    // characters keep each line's work to about its own length.
    QString shown;
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, kept);
    int start = 0;
    for (int end = lines.toNextBoundary(); end > 0; end = lines.toNextBoundary()) {
        if (end - start > LongRunLength)
            appendInPieces(shown, kept, start, end);
        else
            shown += kept.midRef(start, end - start);
        start = end;
    }
    if (cut)
        shown += QString::fromUtf8(kCutMark);
    return shown;
}

QString DlgMessage::sizeInMegabytes(const QString &moduleSize)
{
    const int b = moduleSize.indexOf(QLatin1Char('B'));
    const QString digits = b < 0 ? moduleSize : moduleSize.left(b);
    if (digits.isEmpty())
        return QString();
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return QString();
    }
    bool ok = false;
    const qint64 bytes = digits.toLongLong(&ok);
    if (!ok || bytes == 0)
        return QString();
    return tr("%1 MB").arg(QString::number(double(bytes) / 1024.0 / 1024.0, 'f', 2));
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
