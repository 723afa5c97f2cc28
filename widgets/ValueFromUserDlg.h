#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <QDate>
#include <QDialog>
#include <QSize>
#include <QString>

namespace Ui {
class ValueFromUserDlg;
}

// The one small dialog through which the card face asks for a single value: a prompt, one or
// more input widgets in a scroll area, OK and Cancel. It grows (within limits) to fit its
// inputs once it is shown. Built and run by the value dialog functions below; GUI thread only.
class ValueFromUserDlg : public QDialog
{
    Q_OBJECT

public:
    ValueFromUserDlg(const QString& prompt, QWidget* parent);
    ~ValueFromUserDlg() override;

    // Appends the widget to the input area and gives it the keyboard focus.
    void AddInputWidget(QWidget* widget);

    // The widget to scroll into view once the dialog has its size (a pre-selected choice).
    void SetFocusItem(QWidget* item) { m_focusItem = item; }

    // Frame of the scroll area around the inputs (the choice dialog draws one).
    void SetInputFrameShape(int shape);

public slots:
    // Resizes the dialog about its centre so that the inputs fit without scrolling, at most
    // 600 x 500; then scrolls the focus item, if any, into view. Later calls (the dialog shown
    // again) restore the size of the first one.
    void AdjustSize();

protected:
    void showEvent(QShowEvent* event) override;
    // Shift+Enter confirms as Enter does (QDialog takes Enter only without modifiers): Shift
    // held on confirming means something to some callers, the raw write of an output value.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ScrollToFocusItem();

    std::unique_ptr<Ui::ValueFromUserDlg> m_ui;
    QWidget* m_focusItem = nullptr;
    // The size the first AdjustSize chose; invalid until then.
    QSize m_adjustedSize;
};

// The value dialog functions. Each runs a modal ValueFromUserDlg and returns true when the
// user confirmed a valid value with OK, which is then stored in the in/out argument; false
// (argument untouched) when the user cancelled. The number functions refuse text that is not
// a number of their kind with an information box and ask again, still showing the user's text.
// GUI thread only.
bool GetTextFromUser(const QString& prompt, QString& text, QWidget* parent);
bool GetMultiLineTextFromUser(const QString& prompt, QString& text, QWidget* parent);
// An invalid date (an uncalibrated card's 0/0/0) is offered as today's date.
bool GetDateFromUser(const QString& prompt, QDate& date, QWidget* parent);
bool GetDateFromUser(const QString& prompt, int& day, int& month, int& year, QWidget* parent);
// True only when a choice is checked on OK; index beyond the choices: none checked at first.
bool GetChoiceFromUser(const QString& prompt, const std::vector<std::string>& choices,
                       unsigned& index, QWidget* parent);
// Infinity and NaN are refused like any other text that is not a number.
bool GetFloatFromUser(const QString& prompt, float& value, QWidget* parent);
bool GetUIntFromUser(const QString& prompt, unsigned& value, QWidget* parent);
bool GetIntFromUser(const QString& prompt, int& value, QWidget* parent);

// Asks for a register-sized number. A number that does not fit is refused after OK with an
// information box ("Invalid value." for 0..65535, "Value must be in the range -32768 to
// 32767." for the signed range) and the result is false with value untouched, so the caller
// writes nothing.
bool GetUInt16FromUser(const QString& prompt, unsigned& value, QWidget* parent);
bool GetInt16FromUser(const QString& prompt, int& value, QWidget* parent);

// Any date type with day, month and year members (the card's calibration date).
template <class DateT,
          class = decltype(std::declval<DateT&>().day = 0, std::declval<DateT&>().month = 0,
                           std::declval<DateT&>().year = 0)>
bool GetDateFromUser(const QString& prompt, DateT& date, QWidget* parent)
{
    int day = date.day, month = date.month, year = date.year;
    if (!GetDateFromUser(prompt, day, month, year, parent))
        return false;
    date.day = static_cast<decltype(date.day)>(day);
    date.month = static_cast<decltype(date.month)>(month);
    date.year = static_cast<decltype(date.year)>(year);
    return true;
}

// Question box with Yes and No (default No); true exactly when Yes was pressed.
bool YesNoQuestion(const QString& prompt, QWidget* parent);
