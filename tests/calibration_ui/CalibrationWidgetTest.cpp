#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QTest>

#include "calibration/CalibParams.h"
#include "tests/calibration_ui/CalibUiRig.h"

using namespace CalibUiSteps;

namespace {

class CalibrationWidgetTest : public CalibUiTest
{
};

TEST_F(CalibrationWidgetTest, DiscrepancySlidersShowEachReading)
{
    CalibrationWidget* window = OpenOutputWindow();
    struct Case
    {
        double above; // raw value minus theory
        int value;
        const char* colour;
    };
    const Case cases[] = {
        {0.4, 0, "green"},    {7.0, 7, "green"},   {7.5, 8, "orange"}, {12.0, 10, "red"},
        {-8.0, -8, "orange"}, {-50.0, -10, "red"}, {1e300, 10, "red"},
    };
    QSlider* slider = window->DiscrepancySlider(1, 4, 1);
    ASSERT_NE(slider, nullptr);
    EXPECT_TRUE(slider->isHidden());
    EXPECT_EQ(slider->toolTip(), "Not calibrated");
    for (const Case& c : cases) {
        window->HandleNewCalibVal(1, 4, 1, 1000.0, 1000.0 + c.above);
        EXPECT_EQ(slider->value(), c.value) << c.above;
        EXPECT_EQ(slider->styleSheet(),
                  QStringLiteral("QSlider::handle:vertical {background: %1}").arg(c.colour))
            << c.above;
        EXPECT_FALSE(slider->isHidden());
    }
    window->HandleNewCalibVal(1, 4, 1, 100.0, 107.54);
    EXPECT_EQ(slider->toolTip(),
              "Raw ADC val read: 107.5\nTheoretical val: 100.0\nDiscrepancy: 7.5");
    // Reference A of the same point is untouched.
    EXPECT_TRUE(window->DiscrepancySlider(1, 4, 0)->isHidden());

    // Geometry from the discrepancy area: column 5, reference B, second row.
    QWidget* area = window->findChild<QWidget*>(QStringLiteral("discrepanciesWidget"));
    const int w = area->minimumWidth(), h = area->minimumHeight();
    EXPECT_EQ(window->DiscrepancySlider(1, 5, 1)->geometry(),
              QRect(5 * w / 16 + 20, h / 4 + 20, 16, h / 4 - 31));
    EXPECT_EQ(slider->minimum(), -10);
    EXPECT_FALSE(slider->isEnabled());

    // An Output Card window has no resistance rows: such readings change nothing.
    EXPECT_EQ(window->DiscrepancySlider(2, 0, 0), nullptr);
    window->HandleNewCalibVal(2, 0, 0, 0.0, 5.0);
    window->HandleNewCalibVal(0, 16, 0, 0.0, 5.0);
    EXPECT_TRUE(window->findChild<QPushButton*>("directControlButton")->isHidden());
    EXPECT_TRUE(window->findChild<QWidget*>("inputOnlyParamsWidget")->isHidden());
    delete window;
}

TEST_F(CalibrationWidgetTest, DirectControlRoutesTheBoard)
{
    CalibrationWidget* window = OpenInputWindow();
    auto* toggle = window->findChild<QPushButton*>("directControlButton");
    auto* calibrate = window->findChild<QPushButton*>("calibrateButton");

    QString text;
    ModalScript invalid;
    invalid.Then(Press(QMessageBox::Ok, &text));
    invalid.Run([&] { toggle->setChecked(true); });
    EXPECT_EQ(text, "Invalid selection");
    EXPECT_FALSE(calibrate->isEnabled());
    EXPECT_FALSE(window->findChild<QWidget*>("directControlGroupBox")->isHidden());

    ModalScript none;
    none.Run([&] {
        window->findChild<QComboBox*>("comboInputNumber")->setCurrentIndex(6); // no path yet
    });
    EXPECT_EQ(none.Unexpected().size(), 1); // "Invalid selection" again
    none.Run([&] { window->findChild<QRadioButton*>("radioResHighRange")->setChecked(true); });
    EXPECT_EQ(board->RouteOf(6).pathCode, 8);
    EXPECT_EQ(board->RouteOf(6).selection, 0); // no resistor ticked
    none.Run([&] { window->findChild<QCheckBox*>("checkOhms2")->setChecked(true); });
    EXPECT_EQ(board->RouteOf(6).selection, 4);
    none.Run([&] {
        window->findChild<QRadioButton*>("radioB")->setChecked(true);
        window->findChild<QRadioButton*>("radioCurrent")->setChecked(true);
    });
    EXPECT_EQ(board->RouteOf(6).pathCode, 0x12);
    EXPECT_EQ(board->RouteOf(6).selection, 2);
    EXPECT_EQ(none.Unexpected().size(), 1);
    EXPECT_EQ(LogText(window).count("Calibration config set manually"), 4);

    toggle->setChecked(false);
    EXPECT_TRUE(calibrate->isEnabled());
    delete window;
}

TEST_F(CalibrationWidgetTest, ParamsLoadedStoredAndErasedOnTheBoard)
{
    // Erased board: empty fields and a log line.
    CalibrationWidget* window = OpenInputWindow();
    EXPECT_EQ(Field(window, "paramVoltsA")->text(), "");
    EXPECT_TRUE(LogText(window).contains("Calib params NOT PRESENT inside PIC EEPROM."));
    auto* store = window->findChild<QPushButton*>("storeParamsButton");

    QString text;
    ModalScript empty;
    empty.Then(Press(QMessageBox::Ok, &text));
    empty.Run([&] { window->on_storeParamsButton_pressed(); });
    EXPECT_EQ(text, "One or more paramaters have an invalid value");
    EXPECT_EQ(board->Eeprom(), ByteVec(128, 0xFF));

    ModalScript defaults;
    defaults.Then(Press(QMessageBox::Yes));
    defaults.Run([&] { window->on_paramsToDefaultsButton_pressed(); });
    EXPECT_EQ(Field(window, "paramUpperOhmsB")->text(), "30000.0");
    EXPECT_EQ(Field(window, "paramLowerOhmsA")->text(), "100.00");
    Field(window, "paramVoltsA")->setText("2.5");
    ModalScript stored;
    stored.Then(Press(QMessageBox::Ok, &text));
    stored.Run([&] { store->click(); });
    EXPECT_EQ(text, "Paramaters successfully stored into PIC.");
    CalibParams expected = CalibParams::Defaults();
    expected.voltsA = 2.5;
    const ByteVec eeprom = board->Eeprom();
    EXPECT_EQ(ByteVec(eeprom.begin(), eeprom.begin() + 73), expected.ToImage());
    EXPECT_TRUE(window->ConfirmedParams().SameBytesAs(expected));

    // A decimal comma does not parse; nothing is written.
    Field(window, "paramMilliAmpsB")->setText("1,5");
    ModalScript comma;
    comma.Then(Press(QMessageBox::Ok, &text));
    comma.Run([&] { store->click(); });
    EXPECT_EQ(text, "One or more paramaters have an invalid value");
    Field(window, "paramMilliAmpsB")->setText("9.000");
    delete window;

    // A new window reads the stored values back.
    window = OpenInputWindow();
    store = window->findChild<QPushButton*>("storeParamsButton");
    EXPECT_EQ(Field(window, "paramVoltsA")->text(), "2.500");
    EXPECT_EQ(Field(window, "paramInductorResistance")->text(), "4.600");

    // Shift and Ctrl held: the EEPROM is erased without asking.
    window->show(); // key events reach the application through its native window
    ASSERT_NE(window->windowHandle(), nullptr);
    QTest::keyPress(window->windowHandle(), Qt::Key_Control,
                    Qt::ShiftModifier | Qt::ControlModifier);
    ModalScript erase;
    erase.Then(Press(QMessageBox::Ok, &text));
    erase.Run([&] { store->click(); });
    QTest::keyRelease(window->windowHandle(), Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(text, "EEPROM reset to FF everywhere.");
    EXPECT_EQ(board->Eeprom(), ByteVec(128, 0xFF));
    delete window;

    // An image of another version is reported; the fields stay empty.
    board->SetEeprom(0, {2});
    ModalScript unknown;
    unknown.Then(Press(QMessageBox::Ok, &text));
    window = OpenInputWindow(unknown);
    EXPECT_EQ(text, "Problem accessing params stored inside calibration-board EE: Calibration "
                    "params inside EE have a version number that is not known by this software");
    EXPECT_EQ(Field(window, "paramVoltsB")->text(), "");
    delete window;
}

TEST_F(CalibrationWidgetTest, ClosingWithUnsavedParamsOffersToStoreThem)
{
    CalibrationWidget* created = OpenInputWindow();
    QPointer<CalibrationWidget> window(created);
    window->show();
    ModalScript defaults;
    defaults.Then(Press(QMessageBox::Yes));
    defaults.Run([&] { window->on_paramsToDefaultsButton_pressed(); });

    QString question, stored;
    ModalScript yes;
    yes.Then(Press(QMessageBox::Yes, &question)).Then(Press(QMessageBox::Ok, &stored));
    yes.Run([&] { window->close(); });
    EXPECT_EQ(question,
              "Parameter values have not been saved to the PIC. Store them to the PIC now?");
    EXPECT_EQ(stored, "Paramaters successfully stored into PIC.");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible()); // the close was refused
    EXPECT_EQ(board->Eeprom()[0], 1);

    // Saved now: the window closes without asking and deletes itself.
    ModalScript none;
    none.Run([&] { window->close(); });
    EXPECT_TRUE(none.Unexpected().isEmpty());
    EXPECT_TRUE(RunUntil([&] { return window.isNull(); }));
}

TEST_F(CalibrationWidgetTest, OutputCardSettingsRoundTrip)
{
    CalibrationWidget* window = OpenOutputWindow();
    EXPECT_EQ(Field(window, "allowJitterVREdit")->text(), "1");
    Field(window, "paramVoltsA")->setText("");
    Field(window, "paramVoltsB")->setText("9.5");
    Field(window, "paramMilliAmpsA")->setText("4.0037");
    Field(window, "allowJitterIEdit")->setText("12");
    Field(window, "logDirectoryEdit")->setText("/somewhere/logs");
    QPointer<CalibrationWidget> closing(window);
    window->close();
    ASSERT_TRUE(RunUntil([&] { return closing.isNull(); }));

    window = OpenOutputWindow();
    EXPECT_EQ(Field(window, "paramVoltsA")->text(), "");
    EXPECT_EQ(Field(window, "paramVoltsB")->text(), "9.5");
    EXPECT_EQ(Field(window, "paramMilliAmpsA")->text(), "4.0037");
    EXPECT_EQ(Field(window, "allowJitterIEdit")->text(), "12");
    EXPECT_EQ(Field(window, "logDirectoryEdit")->text(), "/somewhere/logs");
    // Only the four references count; the rest are 0 whatever they hold.
    Field(window, "paramUpperOhmsA")->setText("junk");
    Field(window, "paramVoltsA")->setText("2.5");
    Field(window, "paramMilliAmpsB")->setText("20");
    const auto params = window->ParamsFromUi(true);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->voltsA, 2.5);
    EXPECT_EQ(params->upperOhmsA, 0.0);
    delete window;

    // The Input Card's jitter allowances are kept apart.
    EXPECT_EQ(QSettings().value("Calib.InputCalParams.allowJitterI", "none").toString(), "none");
}

TEST_F(CalibrationWidgetTest, SerialNumberButtonWritesTheCardUnderTest)
{
    CalibrationWidget* window = OpenOutputWindow();
    QString offered, text;
    ModalScript script;
    script.Then(Enter("4321", &offered));
    script.Run([&] { window->on_serialNumberButton_clicked(); });
    EXPECT_EQ(offered, "77"); // the Output Card's number
    EXPECT_EQ(window->LastSerialNumber(), 4321u);
    EXPECT_EQ(outputCard.refreshes, 1);
    EXPECT_EQ(inputCard.refreshes, 1);

    ModalScript tooBig;
    tooBig.Then(Enter("70000", &offered)).Then(Press(QMessageBox::Ok, &text));
    tooBig.Run([&] { window->on_serialNumberButton_clicked(); });
    EXPECT_EQ(offered, "4321"); // read back from the card
    EXPECT_EQ(text, "Serial number must be <= 65535.");
    EXPECT_EQ(outputCard.refreshes, 1);
    delete window;
}

TEST_F(CalibrationWidgetTest, TheLogFollowsItsNewestLineUnlessScrolledUp)
{
    CalibrationWidget* window = OpenOutputWindow();
    window->show();
    auto* splitter = window->findChild<QSplitter*>(QStringLiteral("splitter"));
    QScrollBar* bar = window->findChild<QPlainTextEdit*>("logWidget")->verticalScrollBar();
    auto addLines = [&](int count, int width) {
        for (int i = 0; i < count; ++i)
            window->AddLogLine(QStringLiteral("Input %1\t").arg(i) + QString(width, 'x'));
        QCoreApplication::processEvents();
    };
    addLines(100, 10);
    ASSERT_GT(bar->maximum(), 0);
    // Room taken from the view: by the sideways bar of a table wider than the pane, and by the
    // splitter moved to give the controls more.
    addLines(1, 600);
    const QList<int> sizes = splitter->sizes();
    splitter->setSizes({sizes[0] + 40, sizes[1] - 40});
    addLines(20, 10);
    EXPECT_EQ(bar->value(), bar->maximum());

    // Scrolled up to read: the view stays; back at the end: following again.
    bar->setValue(10);
    addLines(50, 10);
    EXPECT_EQ(bar->value(), 10);
    bar->setValue(bar->maximum());
    addLines(50, 10);
    EXPECT_EQ(bar->value(), bar->maximum());
    delete window;
}

TEST_F(CalibrationWidgetTest, PathLabelsAreNotCutOff)
{
    CalibrationWidget* window = OpenInputWindow();
    QWidget* area = window->findChild<QWidget*>(QStringLiteral("discrepanciesWidget"));
    int rows = 0;
    for (QLabel* label : area->findChildren<QLabel*>()) {
        if (!label->text().endsWith(" path:"))
            continue;
        ++rows;
        // As wide as its text, but clear of the first numbered column.
        const int column4 = window->DiscrepancySlider(0, 3, 0)->x();
        EXPECT_EQ(label->width(),
                  std::min(std::max(120, label->sizeHint().width()), column4))
            << label->text().toStdString();
    }
    EXPECT_EQ(rows, 4);
    delete window;
}

} // namespace
