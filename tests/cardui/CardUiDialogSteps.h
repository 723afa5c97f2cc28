#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QString>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/widgets/ModalScript.h"

// Steps for ModalScript that answer the card face's dialogs the way a user would.
namespace CardUiDialogSteps {

// Types text into a value dialog's line and presses OK; offered receives what it showed.
inline ModalScript::Step Enter(const QString& text, QString* offered = nullptr)
{
    return [text, offered](QWidget* modal) {
        auto* line = modal->findChild<QLineEdit*>();
        ASSERT_NE(line, nullptr) << "no line edit in " << modal->metaObject()->className();
        if (offered)
            *offered = line->text();
        line->setText(text);
        static_cast<QDialog*>(modal)->accept();
    };
}

// Checks the choice of this index in a choice dialog and presses OK.
inline ModalScript::Step Choose(int index)
{
    return [index](QWidget* modal) {
        const auto buttons = modal->findChildren<QRadioButton*>();
        ASSERT_LT(index, buttons.size());
        buttons[index]->setChecked(true);
        static_cast<QDialog*>(modal)->accept();
    };
}

// Presses a button of a message box; text receives the box's text.
inline ModalScript::Step Press(QMessageBox::StandardButton which, QString* text = nullptr)
{
    return [which, text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << "not a message box: " << modal->metaObject()->className();
        if (text)
            *text = box->text();
        QAbstractButton* button = box->button(which);
        ASSERT_NE(button, nullptr);
        button->click();
    };
}

// Presses Enter alone, as a user would, in a dialog that must then close: the key goes to the
// widget holding the focus (a message box gives it to its default button).
inline ModalScript::Step PressEnter()
{
    return [](QWidget* modal) {
        QWidget* focus = modal->focusWidget();
        QTest::keyClick(focus ? focus : modal, Qt::Key_Return);
        if (modal->isVisible()) {
            ADD_FAILURE() << "Enter did not close " << modal->metaObject()->className();
            modal->close();
        }
    };
}

// Cancels any dialog.
inline ModalScript::Step Cancel()
{
    return [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); };
}

} // namespace CardUiDialogSteps
