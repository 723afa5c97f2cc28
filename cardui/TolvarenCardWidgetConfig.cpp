// Saving the card's configuration image to a .dat file and restoring it (options menu of the
// card face). User-interface thread; each slot blocks it while the card answers.

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>

#include <boost/throw_exception.hpp>

#include "cardui/TolvarenCardWidget.h"
#include "comms/ExceptionWithString.h"
#include "protocol/CardConfigSafetyCopy.h"
#include "protocol/FileWriteError.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/WholeFileWriter.h"
#include "widgets/DefaultFolder.h"

namespace {

const char* const dataFileFilter = "Data Files (*.dat);;All Files (*)";
// An image is a few kilobytes; a file far beyond that is not one, and is not read into memory.
const qint64 maxImageFileSize = 16 * 1024 * 1024;

// Restores the cursor however the operation ends.
class WaitCursor
{
public:
    WaitCursor() { Set(); }
    ~WaitCursor() { Restore(); }
    void Set()
    {
        if (!m_set)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        m_set = true;
    }
    void Restore()
    {
        if (m_set)
            QApplication::restoreOverrideCursor();
        m_set = false;
    }

private:
    bool m_set = false;
};

QString DocumentsFolder()
{
    return DocumentsFolderOrHome();
}

ByteVec ReadWholeFile(const QString& filename)
{
    QFile file(filename);
    if (!file.open(QIODevice::ReadOnly))
        boost::throw_exception(ExceptionWithString("cannot open file"));
    const qint64 length = file.size();
    if (length < 0 || length > maxImageFileSize)
        boost::throw_exception(ExceptionWithString("cannot read file"));
    ByteVec image(static_cast<std::size_t>(length));
    if (length > 0 && file.read(reinterpret_cast<char*>(image.data()), length) != length)
        boost::throw_exception(ExceptionWithString("cannot read file"));
    return image;
}

} // namespace

void TolvarenCardWidget::SaveCardConfigToFile()
{
    try {
        ByteVec image;
        {
            WaitCursor cursor;
            TolvarenCommsCommon comms(*m_datalink);
            image = comms.GetCardConfig().get();
        }
        QString filename = QFileDialog::getSaveFileName(this, "Enter filename to save config to",
                                                        DocumentsFolder(), dataFileFilter, nullptr,
                                                        QFileDialog::ReadOnly);
        if (filename.isEmpty())
            return;
        if (QFileInfo(filename).suffix().isEmpty())
            filename += ".dat";
        WholeFileWriter file(filename);
        file.Open();
        try {
            file.Write(QByteArray::fromRawData(reinterpret_cast<const char*>(image.data()),
                                               int(image.size())));
            file.Commit();
        } catch (const FileWriteError& e) {
            QMessageBox::warning(this, QString(), QString::fromUtf8(e.what()));
        }
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             "Failed to save card configuration: " + QString::fromUtf8(e.what()));
    }
}

void TolvarenCardWidget::SetCardConfigFromFile()
{
    const QString filename =
        QFileDialog::getOpenFileName(this, "Choose file", DocumentsFolder(), dataFileFilter);
    if (filename.isEmpty())
        return;
    const auto answer = QMessageBox::question(
        this, QString(),
        "Proceeding will overwrite configuration data in the card, with the contents of the "
        "file:\n\n" +
            filename + "\n\nAre you sure?",
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        DoSetCardConfig(filename);
}

void TolvarenCardWidget::DoSetCardConfig(QString filename)
{
    WaitCursor cursor;
    try {
        const ByteVec image = ReadWholeFile(filename);
        TolvarenCommsCommon comms(*m_datalink);
        try {
            CardConfigSafetyCopy::Keep(comms);
        } catch (const FileWriteError& e) {
            // What the card holds could be read but not kept: nothing is written into it.
            boost::throw_exception(
                ExceptionWithString(std::string("no safety copy kept: ") + e.what()));
        } catch (const std::exception& e) {
            // A card whose image cannot be read at all (a blank replacement) has nothing worth
            // keeping; the restore goes on once the user knows.
            cursor.Restore();
            QMessageBox::warning(this, QString(),
                                 "No safety copy kept: the card's configuration cannot be read: " +
                                     QString::fromUtf8(e.what()));
            cursor.Set();
        }
        comms.SetCardConfig(image).get();
        cursor.Restore();
        QMessageBox::information(this, QString(),
                                 "Card configuration successfully updated.\n\nAll displayed data "
                                 "will now be refreshed.");
    } catch (const std::exception& e) {
        cursor.Restore();
        QMessageBox::warning(this, QString(),
                             "Failed to update card configuration: " + QString::fromUtf8(e.what()) +
                                 "\n\nAll data will now be refreshed.");
    }
    // The main window's F5 handling re-reads the whole card.
    QCoreApplication::postEvent(
        this, new QKeyEvent(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier, QString(), false, 1));
}
