#include "widgets/NamedVarDialog.h"

#include <exception>
#include <string>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "protocol/CPackedVal.h"
#include "protocol/TolvarenCommsCommon.h"
#include "ui_NamedVarDialog.h"
#include "widgets/WaitCursor.h"

NamedVarDialog::NamedVarDialog(ModbusMasterDatalink& datalink, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::NamedVarDialog), m_datalink(datalink)
{
    m_ui->setupUi(this);
}

NamedVarDialog::~NamedVarDialog() = default;

QString NamedVarDialog::ValueText(const CPackedVal& value)
{
    const std::string text = value.DisplayText();
    return QString::fromUtf8(text.data(), int(text.size()));
}

void NamedVarDialog::on_readButton_clicked()
{
    try {
        WaitCursor busy;
        TolvarenCommsCommon comms(m_datalink);
        const std::string name = m_ui->varNameEdit->text().toUtf8().toStdString();
        m_ui->valueEdit->setText(ValueText(comms.ReadNamedVariable(name).get()));
        m_ui->resultLabel->setText("Read success");
    } catch (const std::exception& e) {
        m_ui->resultLabel->setText("Error: " + QString::fromUtf8(e.what()));
    }
}

void NamedVarDialog::on_writeButton_clicked()
{
    try {
        WaitCursor busy;
        TolvarenCommsCommon comms(m_datalink);
        const std::string name = m_ui->varNameEdit->text().toUtf8().toStdString();
        // Always a string: the card converts it to the variable's own type.
        const CPackedVal value =
            CPackedVal::FromString(m_ui->valueEdit->text().toUtf8().toStdString());
        comms.WriteNamedVariable(name, value).get();
        m_ui->resultLabel->setText("Write success");
    } catch (const std::exception& e) {
        m_ui->resultLabel->setText("Error: " + QString::fromUtf8(e.what()));
    }
}
