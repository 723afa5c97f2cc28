#include <QLabel>

#include <gtest/gtest.h>

#include "widgets/AboutDialog.h"

TEST(AboutDialogTest, NameVersionAndQtLink)
{
    AboutDialog dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), "About");
    const struct
    {
        const char* name;
        QString text;
        int pointSize;
    } labels[] = {
        {"label", "Tolvaren Diagnostics", 18},
        {"label_2", "PC Tool", 14},
        {"versionLabel",
         QString("Version %1.%2").arg(TOLVAREN_VERSION_MAJOR).arg(TOLVAREN_VERSION_MINOR), 12},
        {"label_4", "This software uses the Qt library, licensed under the LGPL:", -1},
    };
    for (const auto& l : labels) {
        auto* label = dialog.findChild<QLabel*>(l.name);
        ASSERT_NE(label, nullptr) << l.name;
        EXPECT_EQ(label->text(), l.text);
        if (l.pointSize > 0) {
            EXPECT_EQ(label->font().pointSize(), l.pointSize) << l.name;
        }
    }
    // The build's numbers replace the form's placeholder.
    EXPECT_NE(dialog.findChild<QLabel*>("versionLabel")->text(), "Version 0.0");

    auto* link = dialog.findChild<QLabel*>("qtLinkLabel");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->openExternalLinks());
    EXPECT_EQ(link->textFormat(), Qt::RichText);
    EXPECT_TRUE(link->text().contains("href=\"https://www.qt.io/\""));
}
