#pragma once

#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include "calibration/CalibBoardLink.h"
#include "calibration/ui/CalibrationWidget.h"
#include "calibration/ui/ICardWindow.h"
#include "modbus/ModbusMasterDatalink.h"
#include "simulator/CalibBoardSerialBridge.h"
#include "simulator/FullCardSimulator.h"
#include "simulator/SimulatedCalibBoard.h"
#include "tests/calibration/ServedBoard.h"
#include "tests/support/WaitUntil.h"
#include "tests/widgets/ModalScript.h"

// Readable texts in test failures.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// A main window as the calibration windows see it: a plain widget, a simulated card on a
// datalink, and a count of the refreshes asked for.
class CardWindowStandIn : public ICardWindow
{
public:
    explicit CardWindowStandIn(const CardModel& model)
        : card(new FullCardSimulator(model)), datalink(new ModbusMasterDatalink(card.get())),
          widget(new QWidget)
    {
    }
    ~CardWindowStandIn() override
    {
        delete widget; // may be gone already
        datalink.reset();
    }

    QWidget* CardWindowWidget() override { return widget; }
    ModbusMasterDatalink* CardDatalink() override { return datalink.get(); }
    void RefreshEverything() override { ++refreshes; }
    int ConfiguredCommPort() const override { return 5; }

    std::unique_ptr<FullCardSimulator> card;
    std::unique_ptr<ModbusMasterDatalink> datalink;
    QPointer<QWidget> widget;
    int refreshes = 0;
};

// The simulated calibration board served on a pty cable (the tool's end is COM300), an Input
// Card and an Output Card window, and settings in a folder of their own.
class CalibUiTest : public ::testing::Test
{
protected:
    static constexpr int boardPort = 300;

    CalibUiTest()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
        QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QSettings().clear();
    }
    ~CalibUiTest() override
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<CalibrationWidget*>(w))
                delete w;
        }
    }

    // An Input Card window on the served board; script answers the boxes it opens.
    CalibrationWidget* OpenInputWindow(ModalScript& script)
    {
        return script.Run([&] { return new CalibrationWidget(inputCard, nullptr, boardPort); });
    }
    // An Input Card window that opens no box.
    CalibrationWidget* OpenInputWindow()
    {
        ModalScript none;
        CalibrationWidget* window = OpenInputWindow(none);
        EXPECT_TRUE(none.Unexpected().isEmpty()) << none.Unexpected().join(',').toStdString();
        return window;
    }
    CalibrationWidget* OpenOutputWindow()
    {
        return new CalibrationWidget(inputCard, &outputCard, 0);
    }

    static QLineEdit* Field(QWidget* window, const char* name)
    {
        auto* edit = window->findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(edit, nullptr) << name;
        return edit;
    }
    static QString LogText(QWidget* window)
    {
        return window->findChild<QPlainTextEdit*>(QStringLiteral("logWidget"))->toPlainText();
    }
    // Runs the event loop until condition holds (or a generous bound passes).
    static bool RunUntil(const std::function<bool()>& condition)
    {
        return WaitUntil([&] {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return condition();
        });
    }

    QTemporaryDir settingsDir;
    ServedBoard served;
    std::shared_ptr<SimulatedCalibBoard>& board = served.board;
    CardWindowStandIn inputCard{CardModel::Make(CardModel::inputCard, 10, 1, 0)};
    CardWindowStandIn outputCard{CardModel::Make(CardModel::outputCard, 10, 1, 77)};
};

// Steps for ModalScript.
namespace CalibUiSteps {

// Presses a message box's button; text receives the box's text.
inline ModalScript::Step Press(QMessageBox::StandardButton which, QString* text = nullptr)
{
    return [which, text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << modal->metaObject()->className();
        if (text)
            *text = box->text();
        ASSERT_NE(box->button(which), nullptr);
        box->button(which)->click();
    };
}

// Types text into a value dialog and presses OK; offered receives what it showed first.
inline ModalScript::Step Enter(const QString& text, QString* offered = nullptr)
{
    return [text, offered](QWidget* modal) {
        auto* line = modal->findChild<QLineEdit*>();
        ASSERT_NE(line, nullptr);
        if (offered)
            *offered = line->text();
        line->setText(text);
        static_cast<QDialog*>(modal)->accept();
    };
}

inline ModalScript::Step Cancel()
{
    return [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); };
}

} // namespace CalibUiSteps
