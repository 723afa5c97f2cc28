#include "widgets/ProgressDialog.h"

#include <cmath>
#include <limits>

#include "ui_ProgressDialog.h"

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent), m_ui(new Ui::ProgressDialog)
{
    m_ui->setupUi(this);
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::SetCancelHandler(boost::function<void()> handler)
{
    m_cancelHandler = handler;
    m_ui->cancelButton->setEnabled(!m_cancelHandler.empty());
}

void ProgressDialog::SetTotalUnknown()
{
    m_ui->progressBar->setRange(0, 0);
}

void ProgressDialog::SetText(const QString& text)
{
    QMetaObject::invokeMethod(m_ui->infoLabel, "setText", Qt::QueuedConnection,
                              Q_ARG(QString, text));
}

void ProgressDialog::setPercent(float percent)
{
    // A bogus figure from a worker must not become undefined behaviour in the conversion;
    // values outside the bar's range are then ignored by the bar itself.
    if (!std::isfinite(percent))
        return;
    const float tenths = percent * 10.0f;
    int value;
    if (tenths >= static_cast<float>(std::numeric_limits<int>::max()))
        value = std::numeric_limits<int>::max();
    else if (tenths <= static_cast<float>(std::numeric_limits<int>::min()))
        value = std::numeric_limits<int>::min();
    else
        value = static_cast<int>(tenths);
    QMetaObject::invokeMethod(m_ui->progressBar, "setValue", Qt::QueuedConnection,
                              Q_ARG(int, value));
}

void ProgressDialog::on_cancelButton_clicked()
{
    // A copy: the handler may replace itself or close the dialog.
    const boost::function<void()> handler = m_cancelHandler;
    if (handler)
        handler();
}
