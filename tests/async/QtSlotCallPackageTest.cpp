#include <QObject>
#include <QString>

#include <gtest/gtest.h>

#include "async/QtSlotCallPackage.h"
#include "comms/ExceptionWithString.h"

namespace {

class Target : public QObject
{
    Q_OBJECT
public:
    QString text;
    int number = 0;
public slots:
    void Show(const QString& t, int n)
    {
        text = t;
        number = n;
    }
};

TEST(QtSlotCallPackageTest, KeepsItsOwnCopiesOfTheArguments)
{
    Target target;
    QString text = "Failed to change label: ";
    int number = 3;
    QtSlotCallPackage package(&target, "Show", Q_ARG(QString, text), Q_ARG(int, number));
    text = "changed";
    number = 4;

    EXPECT_EQ(package.Target(), &target);
    EXPECT_EQ(package.SlotName(), "Show");
    EXPECT_EQ(package.TypeName(0), "QString");
    EXPECT_EQ(package.TypeName(1), "int");
    EXPECT_TRUE(package.TypeName(2).empty());
    EXPECT_EQ(package.Value(2), nullptr);

    ASSERT_TRUE(QMetaObject::invokeMethod(package.Target(), package.SlotName().c_str(),
                                          Qt::DirectConnection, package.Argument(0),
                                          package.Argument(1)));
    EXPECT_EQ(target.text, "Failed to change label: ");
    EXPECT_EQ(target.number, 3);
}

struct Unregistered
{
    int x;
};

TEST(QtSlotCallPackageTest, UnknownArgumentTypeIsRefused)
{
    Target target;
    QString text = "kept";
    Unregistered value{1};
    try {
        QtSlotCallPackage package(&target, "Show", Q_ARG(QString, text),
                                  QGenericArgument("Unregistered", &value));
        FAIL() << "no exception";
    } catch (const ExceptionWithString& e) {
        EXPECT_STREQ(e.what(), "QtSlotCallPackage: invalid type");
    }
}

} // namespace

#include "QtSlotCallPackageTest.moc"
