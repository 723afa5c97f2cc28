#include "widgets/ValueFromUserDlg.h"

#include <algorithm>
#include <cmath>

#include <QButtonGroup>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui_ValueFromUserDlg.h"

namespace {

const int maxDialogWidth = 600;
const int maxDialogHeight = 500;

// The dialogs below are parented to the widget that asked. That widget may be destroyed while
// they run (the card face is rebuilt when the card drops off the bus), and with it the dialog;
// so every dialog lives on the heap and is watched, never on the stack.
template <class Dialog> class WatchedDialog
{
public:
    explicit WatchedDialog(Dialog* dialog) : m_dialog(dialog) {}
    ~WatchedDialog() { delete m_dialog.data(); }
    WatchedDialog(const WatchedDialog&) = delete;
    WatchedDialog& operator=(const WatchedDialog&) = delete;

    Dialog* operator->() const { return m_dialog.data(); }
    Dialog* get() const { return m_dialog.data(); }
    // False once the dialog went away with its parent.
    bool alive() const { return !m_dialog.isNull(); }

    // True only when the dialog was accepted and still exists.
    bool execAccepted()
    {
        const int result = m_dialog->exec();
        return alive() && result == QDialog::Accepted;
    }

private:
    QPointer<Dialog> m_dialog;
};

void ShowInformation(QWidget* parent, const QString& text)
{
    WatchedDialog<QMessageBox> box(
        new QMessageBox(QMessageBox::Information, QString(), text, QMessageBox::Ok, parent));
    box->exec();
}

// Shared by the three number dialogs: asks until the text parses or the user cancels.
template <class T, class Parse>
bool GetNumberFromUser(const QString& prompt, T& value, const QString& initialText, Parse parse,
                       const QString& refusal, QWidget* parent)
{
    WatchedDialog<ValueFromUserDlg> dialog(new ValueFromUserDlg(prompt, parent));
    auto* edit = new QLineEdit(initialText);
    dialog->AddInputWidget(edit);
    while (dialog.execAccepted()) {
        T parsed{};
        if (parse(edit->text(), parsed)) {
            value = parsed;
            return true;
        }
        ShowInformation(parent, refusal);
        if (!dialog.alive())
            return false;
    }
    return false;
}

} // namespace

ValueFromUserDlg::ValueFromUserDlg(const QString& prompt, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::ValueFromUserDlg)
{
    m_ui->setupUi(this);
    m_ui->promptLabel->setText(prompt);
    auto* layout = new QVBoxLayout(m_ui->inputContainer);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(1);
}

ValueFromUserDlg::~ValueFromUserDlg() = default;

void ValueFromUserDlg::AddInputWidget(QWidget* widget)
{
    widget->setParent(m_ui->inputContainer);
    m_ui->inputContainer->layout()->addWidget(widget);
    widget->setFocus(Qt::OtherFocusReason);
}

void ValueFromUserDlg::SetInputFrameShape(int shape)
{
    m_ui->scrollArea->setFrameShape(static_cast<QFrame::Shape>(shape));
}

void ValueFromUserDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The sizes AdjustSize works from are only known once the dialog has been laid out.
    QMetaObject::invokeMethod(this, "AdjustSize", Qt::QueuedConnection);
}

void ValueFromUserDlg::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers().testFlag(Qt::ShiftModifier)) {
        QKeyEvent unshifted(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                            event->text(), event->isAutoRepeat(), ushort(event->count()));
        QDialog::keyPressEvent(&unshifted);
        event->setAccepted(unshifted.isAccepted());
        return;
    }
    QDialog::keyPressEvent(event);
}

void ValueFromUserDlg::AdjustSize()
{
    // The number dialogs show the same dialog again after a refused entry. The sizes below
    // depend on the dialog's current size, so a second pass would widen it again: it reopens
    // at the size of its first showing instead.
    if (m_adjustedSize.isValid()) {
        const QRect current = geometry();
        QRect again(QPoint(0, 0), m_adjustedSize);
        again.moveCenter(current.center());
        setGeometry(again);
        ScrollToFocusItem();
        return;
    }

    const QScrollArea* area = m_ui->scrollArea;
    const QSize content = m_ui->inputContainer->size();
    // What the viewport would be without scroll bars: the area inside its frame (this area has
    // no viewport margins; QAbstractScrollArea keeps maximumViewportSize() protected).
    const int frame = 2 * area->frameWidth();
    const QSize viewport = area->size() - QSize(frame, frame);
    const QSize current = size();

    const int wantedWidth =
        std::min(current.width() + (content.width() - viewport.width()) + 24, maxDialogWidth);
    const int wantedHeight =
        std::min(current.height() + (content.height() - viewport.height()) + 1, maxDialogHeight);
    const int dx = (wantedWidth - current.width()) / 2;
    const int dy = (wantedHeight - current.height()) / 2;

    setGeometry(geometry().adjusted(-dx, -dy, dx, dy));
    m_adjustedSize = size();
    ScrollToFocusItem();
}

void ValueFromUserDlg::ScrollToFocusItem()
{
    if (m_focusItem) {
        // Lay the scroll area out at the new size first, or the scroll would be computed for
        // the old viewport.
        layout()->activate();
        m_ui->scrollArea->ensureWidgetVisible(m_focusItem, 50, 50);
    }
}

bool GetTextFromUser(const QString& prompt, QString& text, QWidget* parent)
{
    WatchedDialog<ValueFromUserDlg> dialog(new ValueFromUserDlg(prompt, parent));
    auto* edit = new QLineEdit(text);
    dialog->AddInputWidget(edit);
    if (!dialog.execAccepted())
        return false;
    text = edit->text();
    return true;
}

bool GetMultiLineTextFromUser(const QString& prompt, QString& text, QWidget* parent)
{
    WatchedDialog<ValueFromUserDlg> dialog(new ValueFromUserDlg(prompt, parent));
    auto* edit = new QPlainTextEdit(text);
    edit->setMinimumSize(300, 200);
    dialog->AddInputWidget(edit);
    if (!dialog.execAccepted())
        return false;
    text = edit->toPlainText();
    return true;
}

bool GetDateFromUser(const QString& prompt, QDate& date, QWidget* parent)
{
    WatchedDialog<ValueFromUserDlg> dialog(new ValueFromUserDlg(prompt, parent));
    auto* edit = new QDateEdit(date.isValid() ? date : QDate::currentDate());
    edit->setCalendarPopup(true);
    // Four-digit years, in the order the point rows show the date.
    edit->setDisplayFormat("dd/MM/yyyy");
    dialog->AddInputWidget(edit);
    if (!dialog.execAccepted())
        return false;
    date = edit->date();
    return true;
}

bool GetDateFromUser(const QString& prompt, int& day, int& month, int& year, QWidget* parent)
{
    QDate date(year, month, day);
    if (!GetDateFromUser(prompt, date, parent))
        return false;
    day = date.day();
    month = date.month();
    year = date.year();
    return true;
}

bool GetChoiceFromUser(const QString& prompt, const std::vector<std::string>& choices,
                       unsigned& index, QWidget* parent)
{
    WatchedDialog<ValueFromUserDlg> dialog(new ValueFromUserDlg(prompt, parent));
    dialog->SetInputFrameShape(QFrame::StyledPanel);
    auto* group = new QButtonGroup(dialog.get());
    group->setExclusive(true);
    for (std::size_t i = 0; i < choices.size(); ++i) {
        auto* button = new QRadioButton(QString::fromStdString(choices[i]));
        group->addButton(button, static_cast<int>(i));
        if (i == index) {
            button->setChecked(true);
            dialog->SetFocusItem(button);
        }
        dialog->AddInputWidget(button);
    }
    if (!dialog.execAccepted())
        return false;
    const int checked = group->checkedId();
    if (checked < 0)
        return false;
    index = static_cast<unsigned>(checked);
    return true;
}

bool GetFloatFromUser(const QString& prompt, float& value, QWidget* parent)
{
    return GetNumberFromUser(
        prompt, value, QString::number(value, 'g', 6),
        [](const QString& text, float& parsed) {
            bool ok = false;
            parsed = text.toFloat(&ok);
            // "inf" and "nan" parse, but are no value a card can store or compare.
            return ok && std::isfinite(parsed);
        },
        "You must enter a valid number.", parent);
}

bool GetUIntFromUser(const QString& prompt, unsigned& value, QWidget* parent)
{
    return GetNumberFromUser(
        prompt, value, QString::number(value),
        [](const QString& text, unsigned& parsed) {
            bool ok = false;
            parsed = text.toUInt(&ok, 10);
            return ok;
        },
        "You must enter a positive whole number.", parent);
}

bool GetIntFromUser(const QString& prompt, int& value, QWidget* parent)
{
    return GetNumberFromUser(
        prompt, value, QString::number(value),
        [](const QString& text, int& parsed) {
            bool ok = false;
            parsed = text.toInt(&ok, 10);
            return ok;
        },
        "You must enter a whole number.", parent);
}

bool GetUInt16FromUser(const QString& prompt, unsigned& value, QWidget* parent)
{
    unsigned entered = value;
    if (!GetUIntFromUser(prompt, entered, parent))
        return false;
    if (entered > 65535) {
        ShowInformation(parent, "Invalid value.");
        return false;
    }
    value = entered;
    return true;
}

bool GetInt16FromUser(const QString& prompt, int& value, QWidget* parent)
{
    int entered = value;
    if (!GetIntFromUser(prompt, entered, parent))
        return false;
    if (entered < -32768 || entered > 32767) {
        ShowInformation(parent, "Value must be in the range -32768 to 32767.");
        return false;
    }
    value = entered;
    return true;
}

bool YesNoQuestion(const QString& prompt, QWidget* parent)
{
    WatchedDialog<QMessageBox> box(new QMessageBox(QMessageBox::Question, QString(), prompt,
                                                   QMessageBox::Yes | QMessageBox::No, parent));
    box->setDefaultButton(QMessageBox::No);
    const int answer = box->exec();
    return box.alive() && answer == QMessageBox::Yes;
}
